#pragma once

#include "device/HidPlatform.h"

namespace vrax {

// Passes every call to another platform; a wrapper overrides only what it adds to.
class ForwardingHidPlatform : public HidPlatform {
public:
    explicit ForwardingHidPlatform(HidPlatform& inner) : inner_(inner) {}

    std::vector<std::string> EnumerateInterfaces() override { return inner_.EnumerateInterfaces(); }
    HidHandle Open(const std::string& path) override { return inner_.Open(path); }
    void Close(HidHandle handle) override { inner_.Close(handle); }
    bool CanOpen(const std::string& path) override { return inner_.CanOpen(path); }
    bool MayBeDevice(const std::string& path, int vendorId, int productId) override {
        return inner_.MayBeDevice(path, vendorId, productId);
    }
    std::string DeviceOfInterface(const std::string& path) override {
        return inner_.DeviceOfInterface(path);
    }
    std::string ConnectionOfInterface(const std::string& path) override {
        return inner_.ConnectionOfInterface(path);
    }
    bool GetAttributes(HidHandle handle, HidAttributes& attributes) override {
        return inner_.GetAttributes(handle, attributes);
    }
    std::uint16_t GetFeatureReportLength(HidHandle handle) override {
        return inner_.GetFeatureReportLength(handle);
    }
    std::vector<std::uint16_t> GetFeatureReportLengths(HidHandle handle) override {
        return inner_.GetFeatureReportLengths(handle);
    }
    bool SelectFeatureCollection(HidHandle handle, std::uint16_t length) override {
        return inner_.SelectFeatureCollection(handle, length);
    }
    bool SetFeature(HidHandle handle, const std::uint8_t* buffer, std::size_t length) override {
        return inner_.SetFeature(handle, buffer, length);
    }
    bool GetFeature(HidHandle handle, std::uint8_t* buffer, std::size_t length) override {
        return inner_.GetFeature(handle, buffer, length);
    }
    std::string TakeOperatorNotice() override { return inner_.TakeOperatorNotice(); }
    std::string LastTransferError() override { return inner_.LastTransferError(); }

protected:
    HidPlatform& inner_;
};

} // namespace vrax
