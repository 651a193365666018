#include "cli/HelpText.h"

#include "cli/MouseTypeNames.h"
#include "device/HexText.h"
#include "sim/MouseFaults.h"

#include <algorithm>

namespace vrax {

namespace {

constexpr const char* Usage = R"(Usage:
  vrax-bin-writer-cli [options] list
  vrax-bin-writer-cli [options] write IMAGE.bin
  vrax-bin-writer-cli [options] verify IMAGE.bin
  vrax-bin-writer-cli [options] read OUT.bin
  vrax-bin-writer-cli [options] factory-read
  vrax-bin-writer-cli [options] line IMAGE.bin [--gang N] [--serial next]
  vrax-bin-writer-cli [options] serve [IMAGE.bin] --remote tcp:ADDRESS:PORT [--gang N]
  vrax-bin-writer-cli [--records FILE] records [--since TIME] [--serial HEX] [--csv]
  vrax-bin-writer-cli [--records FILE] records --summary | --duplicates
  vrax-bin-writer-cli [--records FILE] records approve IMAGE.bin --product HEX
  vrax-bin-writer-cli [--records FILE] records approvals [--product HEX] [--csv]
  vrax-bin-writer-cli [--records FILE] records [--since TIME] --report FILE.html
  vrax-bin-writer-cli --records ADDRESS records --acknowledge-restore

Runs the station's programming operations on one mouse with the same code as the window, on
the machine's HID devices or on a virtual mouse. The image is loaded (and refused as the window
refuses it) before any mouse is looked for; the mouse is then opened as the window opens a
newly connected one (by VID, PID and, @RELEASE@).

Commands:
  list            show the HID interfaces present, then "Mouse Ready" when the mouse of the IC
                  type is found, else "No Find Mouse"; a KVQM42xx or KVQM537 mouse that
                  answers neither probe gives "No verdict: the mouse answered neither probe"
  write IMAGE     write the 2048-byte image with the data format, then the factory record
                  with --factory: "Write Pass" or "Write Fail"
  verify IMAGE    compare the mouse's 2048 bytes with the image: "Verify Pass" or "Verify
                  Fail" (@BLOCKS@ passes over bytes 160-171, the factory record)
  read OUT        read the mouse's 2048 bytes into the file OUT: "Save Pass" or "Save Fail";
                  ".bin" is appended unless OUT ends in it; no file when the read fails
  factory-read    read the 12-byte factory record and print its six fields as the window
                  shows them (an empty value where the field would be empty), then "Read Ok"
                  or "Read Fail"
  line IMAGE      the production cycle without a window: wait for mice and write each newly
                  arrived matching one as the window's Auto Write does, one line per mouse
                  (path, serial number, verdict, time); Ctrl+C finishes the jobs in flight,
                  then prints a summary
  serve [IMAGE]   the station driven by a jig over the --remote ports with the jig protocol
                  (#AUTO, #VERIFY, #FACTORY, #STATUS, #RESULT, #CANCEL...: docs/remote.md);
                  each job as the window's, recorded; Ctrl+C stops once a job has ended
  records         print the production records as a table (--csv: as CSV); the file is
                  only read, never created or changed, and must exist
  records approve IMAGE
                  approve the image for the product type --product: once the records
                  approve an image for a product type, write and line refuse every other
                  image for it, naming the file and its SHA-256 (the one change a records
                  command makes; the approver is this process's user and host)
  records approvals
                  print the approved images (--product: of one product type; --csv: as CSV)

Mouse:
@MOUSE@
Write settings (the window's defaults; numbers are decimal digits only):
  --format F      data format: 2k, 256 or custom (default custom for @CUSTOM@, 2k otherwise;
                  only @CUSTOM@ offers custom)
  --blocks N      256-byte blocks written by --format 256, kept within 1..8 (default 8)
  --ranges TEXT   byte ranges of --format custom: items S-E, each ended by ";", E exclusive,
                  both numbers written with the same number of digits; text after the last
                  ";" is ignored (default "000-256;1280-1536;")
  --total N       Total Times: @CHECKED@ write passes before the one extra pass (default 1)
  --retry N       Retry Times: attempts per memory write, read-back checks, attempts of the
                  factory record write (default 3)
  --sleep N       Sleep Time: settle wait of N+1 ms before the verdict, at most 3 digits
                  (default 100)
  --product HEX   the product type whose approved images write and line may use, as the
                  factory fields' Type (default 0005; --factory sets it too)
  --factory TYPE,DATE,SN,FACTORY,LINE,STATION
                  turn Write Product ID on (@CHECKED@ only): product type, date and serial
                  number in hexadecimal (at most 4, 8 and 6 digits), factory 1..8, line A..Z,
                  station 1..8; the window's defaults are 0005,20200527,000001,1,A,1

Virtual mouse:
  --sim FAMILY[:FAULT[,FAULT...]]
                  run against one virtual mouse on a simulated HID bus, plugged in before the
                  command, instead of the machine's devices; FAMILY is kvqm31x, kvqm42xx or
                  kvqm537, with the default IDs of that type
  --real-time     the virtual mouse's waits take real time (default: a virtual clock, so a
                  write takes milliseconds while the trace shows the protocol's times)
  --sim-memory FILE
                  the virtual mouse's initial 2048 bytes (default: all FF)
  --sim-dump FILE
                  the virtual mouse's 2048 bytes, written after the command

Records:
  --trace FILE    one line per feature-report transfer, in order:
                  <milliseconds since start> <set|get> <the 8 bytes as two-digit lowercase
                  hex, space separated> <ok|fail>; milliseconds carry three decimals; for a
                  get, the bytes the device returned
  --log FILE      append one CSV line per operation: time (UTC, ISO 8601), operation, IC
                  type, serial number (when a record was stamped or read), verdict; a header
                  line starts a new file
  --records FILE  where every operation's record is committed before its verdict is shown
                  (SQLite; default $XDG_DATA_HOME/vrax-bin-writer/records.sqlite, on Windows
                  %LOCALAPPDATA%\VRAX\records.sqlite); none: keep no records
  --json          write, verify, read, factory-read and line: one JSON object a line on
                  standard output for each job's start, progress and end (verdict, serial
                  number, product type, milliseconds, reason) and the line's tally, in
                  place of the verdict lines; other texts go to standard error
  -h, --help      show this text
  --version       show the version, the licence and the libraries the program is built with

Records command:
  --since TIME    only records at or after TIME: 2026-01-31 (midnight UTC), 2026-01-31T08:00
                  or "2026-01-31 08:00:30.5" (UTC), with Z, +01:00, -0530 or +01 for an offset
                  from UTC; anything else is refused (exit 2)
  --serial HEX    only records of that serial number
  --csv           CSV with the header time,operation,station,host,ic_type,vid,pid,path,
                  image_sha256,image_file,format,serial,verdict,duration_ms,error
  --summary       passes, fails and yield of the writes per IC type and per hour, then
                  the serial numbers still reserved and which host and process hold them,
                  and those a mouse may carry without its record
  --duplicates    every serial number stamped with "Write Pass" on more than one mouse of
                  the same product type, with when and where, and those a mouse may carry
                  without its record; exit 1 when one is stamped twice or may be
  --report FILE.html
                  write the line report, one page that needs nothing else to show (no
                  network, no script): passes and fails per UTC hour and per station as
                  charts, the failure reasons by count, the serial numbers stamped per
                  product type as runs, serial numbers stamped twice and open reservations;
                  the store computes every figure, so a large store is never read whole
  --acknowledge-restore
                  the line database's owner (vrax_owner) acknowledges that it went back in
                  time (a backup restored), as stations found it: shows what they found, keeps
                  every number they remembered from being handed out again, and lets the
                  stations take numbers again

Line command:
  --gang N        up to N mice at once, each on its own thread (default 1)
  --max-mice N    end the line after N verdicts
  --serial next   stamp the lowest serial number above the highest ever stamped for the
                  product type in the records (needs --factory); each is reserved in the
                  records before it goes to the mouse, so lines sharing the records never
                  stamp the same one. Without it the serial number advances after each pass
                  as in the window, and a number the records show stamped for the product
                  type stops the line before that mouse is written. A serial number past
                  FFFFFF is refused. A record that cannot be stored stops the line and names
                  every mouse left without one; a wait for the records ends after 10 s, and
                  2 s after Ctrl+C.
  --serial-start HEX
                  with --serial next: the first serial number of a new batch
  --sim-mice N    with --sim: N virtual mice plugged one after another (with --gang K, K at
                  a time), each unplugged after its verdict
  --sim-faulty-every K
                  with --sim-mice: only every Kth virtual mouse gets the --sim faults

Serve command (--gang, --serial next and --serial-start as for the line):
  --remote tcp:ADDRESS:PORT | serial:DEVICE,BAUD
                  where a jig reaches the station, once or more: TCP on that address (one
                  jig at a time; port 0 takes a free one, printed), or a serial line at 8N1
                  (serial:COM3,115200 on Windows); with --gang N the channels are the N mice
                  present in the order of their port paths, with --sim N virtual mice
  --images DIR    the folder #LOAD takes images from (default: the image's folder)
  --remote-allow CIDR
                  an address range TCP jigs may come from besides this PC (10.1.2.0/24),
                  once or more; needed to listen on any address but 127.0.0.1 or ::1.
                  Others are closed at once and logged
  --remote-idle SECONDS
                  a TCP jig silent both ways this long is closed (default 300)

)";

constexpr const char* Closing = R"(
Output:
  The verdict exactly as the window shows it: "Write Pass", "Write Fail", "Verify Pass",
  "Verify Fail", "Save Pass", "Save Fail", "Read Ok", "Read Fail", "BIN file not match Mouse",
  "BIN file not match IC Type", "No Find Mouse"; where the window shows nothing, a line
  saying why ("No verdict: ..."). Errors go to standard error with the window's text where
  it has one ("Cannot open file ...", "'...' is not a valid integer value"). On a terminal,
  long operations draw a progress bar on standard error.

Exit codes:
  0  pass (list: the mouse was found and answered)
  1  any other outcome on a found mouse: a fail verdict, "BIN file not match Mouse", no answer
  2  bad usage or bad input: an unknown option or a bad value, a BIN file that cannot be
     opened or is not 2048 bytes, a range that does not convert, a file that cannot be
     created or written, records that refuse (a serial number already stamped, an image not
     approved for the product type, a store that cannot be written or stayed locked past
     its deadline, a records file on a network file system)
  3  no matching mouse found
  4  line: it ended with records still waiting in this PC's outbox for the line database
     (the end says how many; the next station that reaches the server sends them)
)";

constexpr std::size_t Width = 95;
constexpr std::size_t Indent = 18;

// An option and its words, wrapped as the rest of the text is.
std::string OptionText(const std::string& option, const std::string& words) {
    std::string text = "  " + option;
    text += std::string(Indent > text.size() ? Indent - text.size() : 1, ' ');
    std::size_t lineStart = 0;
    std::size_t at = 0;
    bool first = true;
    while (at < words.size()) {
        const std::size_t end = std::min(words.find(' ', at), words.size());
        const std::string word = words.substr(at, end - at);
        if (!first && text.size() - lineStart + 1 + word.size() > Width) {
            text += "\n" + std::string(Indent, ' ');
            lineStart = text.size() - Indent;
        } else if (!first) {
            text += ' ';
        }
        text += word;
        first = false;
        at = end + 1;
    }
    return text + "\n";
}

std::string MouseOptions() {
    const MouseType& first = MouseTypes.front();
    return OptionText("--ic TYPE", IcTypeNameList() + " (default " + first.name +
                                       "; with --sim, the type of the virtual mouse)") +
           OptionText("--vid HEX", "USB vendor ID, at most 4 hex digits (default " +
                                       HexText(first.vendorId, 4) + ")") +
           OptionText("--pid HEX",
                      "USB product ID, at most 4 hex digits (default " + ProductIdList() + ")");
}

void Replace(std::string& text, const std::string& placeholder, const std::string& words) {
    for (std::size_t at = text.find(placeholder); at != std::string::npos;
         at = text.find(placeholder, at + words.size())) {
        text.replace(at, placeholder.size(), words);
    }
}

std::string Families(const MouseFaultName& fault) {
    if (fault.kvqm31x && fault.kvqm42xx) {
        return "both families";
    }
    return fault.kvqm31x ? "KVQM31X" : "KVQM42xx/KVQM537";
}

} // namespace

std::string HelpText() {
    std::string text = Usage;
    Replace(text, "@RELEASE@", ReleaseNumberList());
    Replace(text, "@MOUSE@", MouseOptions());
    // Hand-wrapped lines: a longer list of names only makes them longer.
    Replace(text, "@BLOCKS@", TypeNamesWith(&JobTraits::verifyInBlocks));
    Replace(text, "@CUSTOM@", TypeNamesWith(&JobTraits::customRanges));
    Replace(text, "@CHECKED@", TypeNamesWith(&JobTraits::checkedWrite));
    text += "Faults of --sim (numbers decimal or 0x hexadecimal, chip codes always hex; data\n"
            "chunks and data reports count from 0 in every read or write):\n";
    for (const MouseFaultName& fault : MouseFaultNames()) {
        std::string name = fault.name;
        if (*fault.argument != '\0') {
            name += std::string("=") + fault.argument;
        }
        text += "  " + name + std::string(name.size() < 22 ? 22 - name.size() : 1, ' ') +
                fault.meaning + " (" + Families(fault) + ")\n";
    }
    text += Closing;
    return text;
}

} // namespace vrax
