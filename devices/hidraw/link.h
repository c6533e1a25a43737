// The device side of the hidraw libraries: which collections exist (libudev), and one open,
// identified protocol collection (hidapi's hidraw back end) to run frames on.
#pragma once

#include "frame.h"

#include <cstdint>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

struct hid_device_;

namespace torvanix::hidraw {

// One top-level collection of one hidraw node.
struct InterfaceInfo {
    std::string devnode; // /dev/hidrawN
    std::string device;  // the HID device's name, new at every plug ("0003:258A:0013.0007")
    std::u16string path; // the interface path the program sees
    uint16_t vendor = 0, product = 0;
    uint16_t usagePage = 0, usage = 0;
    bool frameReport = false;
    bool interruptFrames = false; // requests as output reports, replies as input reports
};

// Every collection of every hidraw node, in node order. Reads sysfs only; opens nothing.
std::vector<InterfaceInfo> enumerateInterfaces();

// What one library call sends and gets back.
struct Request {
    uint8_t command = 0;
    uint8_t arg = 0;
    uint16_t count = 0;
    std::vector<uint8_t> payload;
    std::vector<int32_t> values; // 32-bit values in the data bytes
    std::vector<uint8_t> bytes;  // or single bytes there
    int answerLength = 0;        // answer bytes wanted (fetched up to what the device holds)
};
struct Result {
    bool ok = false;
    bool delivered = false; // some frame of the call reached the device
    int32_t ret = 0;
    std::vector<uint8_t> answer;
};

class Link {
public:
    ~Link();
    // Opens the node and asks for identification; null when either fails, or when the device
    // is none the catalogue supports. `unanswered` (may be null) is set when the node opened
    // but did not identify.
    static std::unique_ptr<Link> open(const InterfaceInfo &info, bool *unanswered = nullptr);

    const Identity &identity() const { return identity_; }
    // Asks an identified device again for its battery level and connection status, which
    // change while it stays plugged in; the rest of its identity does not. False when it did
    // not answer (what it said before stays).
    bool refreshLevels();
    const InterfaceInfo &info() const { return info_; }
    bool broken() const { return broken_; }

    Result execute(const Request &request);
    // Waits up to timeoutMs for one input report of the frame report; its bytes (id removed).
    int readInput(uint8_t *buf, int length, int timeoutMs);
    void drainInput();

private:
    Link() = default;
    bool send(const Frame &frame);
    bool receive(const Frame &request, Frame *reply);
    bool receiveInput(const Frame &request, Frame *reply);
    bool transact(Frame &request, Frame *reply);
    uint8_t nextSeq();

    hid_device_ *dev_ = nullptr;
    InterfaceInfo info_;
    Identity identity_;
    uint8_t seq_ = 0;
    bool broken_ = false;
};

// The process's open links, by interface path; every device call goes through here under one
// lock, which also serialises the traffic of the three libraries.
class Links {
public:
    static Links &instance();
    std::recursive_mutex mutex;

    // The identified link of `path` in the wanted role; null when the path is unknown, does not
    // speak the protocol, does not identify, or identifies in the other role.
    Link *get(const std::u16string &path, bool bootLoader);
    // The identified device (role 0) with this vendor and product, for the keyboard and mouse
    // libraries.
    Link *byIds(int vendor, int product);
    // Re-reads the collections; identifies the protocol ones (reusing open links). With
    // `levels` the reused links are asked for their battery and status again (a listing).
    std::vector<InterfaceInfo> refresh(std::vector<const Link *> *identified, bool levels = false);
    void drop(Link *link);

private:
    Link *open(const InterfaceInfo &info);
    std::vector<InterfaceInfo> known_;
    std::vector<std::unique_ptr<Link>> links_;
    // Collections that opened but did not identify, until they are unplugged: one that never
    // answers would otherwise hold up every listing and call for its whole wait again.
    std::set<std::string> unanswered_;
};

bool samePathText(const std::u16string &a, const std::u16string &b);
std::u16string toU16(const std::string &s);
std::string fromU16(const std::u16string &s);

} // namespace torvanix::hidraw
