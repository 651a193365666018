#pragma once

// The test-only controls of the replacement setupapi.dll and hid.dll. Tests resolve them with
// GetProcAddress, so that nothing but the backend itself decides when a library is loaded.

#include <windows.h>

extern "C" {

// How the detail of an interface fails.
enum ReplacementDetailFault {
    DetailAnswers = 0,
    DetailSizeRefused = 1, // the size query fails with an error other than 122
    DetailSizeZero = 2,    // the size query answers 122 with a required size of 0
    DetailFetchRefused = 3 // the size query answers, fetching the detail fails
};

using SetupApiResetFn = void (*)();
// present = 0: registered but absent, as an unplugged device's interface stays in the system.
using SetupApiAddInterfaceFn = void (*)(const char* path, int present, int detailFault);
using SetupApiFailClassDevsFn = void (*)(int fail);
using SetupApiCountFn = int (*)();
using SetupApiLastClassDevsFn = void (*)(GUID* classGuid, DWORD* flags);

// model: "kvqm31x", "kvqm42xx", "kvqm42xx-two-interfaces" or "plain". Returns the device id.
using HidAddDeviceFn = int (*)(const char* model, unsigned vendorId, unsigned productId,
                               unsigned versionNumber, unsigned featureReportLength);
// path names a file that exists; the interface is found again from any handle opened on it.
using HidAttachInterfaceFn = int (*)(int device, int interfaceIndex, const char* path);
// A fault list as the virtual mice read it ("busy=3,corrupt=0x10").
using HidSetFaultsFn = int (*)(int device, const char* faults);
// Copies the device's 2048 bytes out, or in when write is not 0.
using HidMemoryFn = int (*)(int device, unsigned char* image, int write);
using HidResetFn = void (*)();
using HidCountFn = int (*)();
}
