// Calls a device access library's entries directly, for the VM tests:
//   torvanix-vm-libcall DIR list          prints the listed interface paths, one a line
//   torvanix-vm-libcall DIR levels FILE   lists with battery and status bytes ("PATH B S"),
//                                         waits for FILE to exist, lists again in the same
//                                         process (after "--")
//   torvanix-vm-libcall DIR write PATH    tries every writing entry on PATH; exit 0 when all
//                                         of them failed
//   torvanix-vm-libcall DIR bench PATH N [BYTES]
//                                         times N register reads on PATH (with BYTES: writes
//                                         of that many bytes), prints us per call
//   torvanix-vm-libcall DIR kb|ms         calls every entry of the keyboard or mouse library
//                                         once with fixed arguments, prints what each returned
#include "torvanix/devlib.h"

#include <dlfcn.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

namespace {

template <typename F> F entry(void *lib, const char *name) {
    return reinterpret_cast<F>(dlsym(lib, name));
}

std::u16string widen(const char *s) {
    std::u16string out;
    for (; *s; ++s)
        out += char16_t(static_cast<unsigned char>(*s));
    return out;
}

// Every entry of the keyboard (kb) or mouse (ms) library in DIR, once, in the order a session
// uses them; the printed returns and the device's trace are compared across the two backends.
int libraryFamily(const std::string &dir, const std::string &family) {
    const bool kb = family == "kb";
    const std::string file = dir + (kb ? "/libKBAccess.so" : "/libByDevInterface.so");
    void *lib = dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!lib) {
        std::fprintf(stderr, "cannot load %s: %s\n", file.c_str(), dlerror());
        return 2;
    }
    bool missing = false;
    auto need = [&](const char *name) {
        void *f = dlsym(lib, name);
        if (!f) {
            std::fprintf(stderr, "%s lacks %s\n", file.c_str(), name);
            missing = true;
        }
        return f;
    };
    // Payloads long enough to be staged in several frames, with bytes that show a shift.
    std::vector<uint8_t> bytes(700);
    for (size_t i = 0; i < bytes.size(); ++i)
        bytes[i] = uint8_t(i * 7 + 1);
    std::vector<int32_t> table(165);
    for (size_t i = 0; i < table.size(); ++i)
        table[i] = int32_t(i * 0x01010101u + 3);
    if (kb) {
        auto hw = reinterpret_cast<int (*)(int, int)>(need("SetHardwareInfo"));
        auto init = reinterpret_cast<int (*)(void *)>(need("InitDevice"));
        auto led = reinterpret_cast<int (*)(int, int, int, int, int)>(need("SetLED"));
        auto colour = reinterpret_cast<int (*)(int, int, int, int)>(need("SetKeyColor"));
        auto macro = reinterpret_cast<int (*)(uint8_t *, int)>(need("SetMacro"));
        auto key = reinterpret_cast<int (*)(int32_t *, int)>(need("SetKey"));
        auto action = reinterpret_cast<int (*)(int, int, int, int, int)>(need("new_key_action"));
        auto debug = reinterpret_cast<void (*)(int)>(need("SetDebug"));
        auto uninit = reinterpret_cast<int (*)()>(need("UnInitDevice"));
        if (missing)
            return 2;
        std::printf("SetHardwareInfo %d\n", hw(0x05ac, 0x024f));
        std::printf("InitDevice %d\n", init(nullptr));
        std::printf("SetLED %d\n", led(7, 5, 5, 1, 0xFFEA7B));
        std::printf("SetKeyColor %d\n", colour(130, 255, 0, 16));
        std::printf("SetMacro %d\n", macro(bytes.data(), 300));
        std::printf("SetMacro(short) %d\n", macro(bytes.data() + 1, 40));
        std::printf("SetKey %d\n", key(table.data(), 528));
        std::printf("new_key_action %d\n", action(12, -1, 2, 0x7fffffff, 4));
        debug(1);
        std::printf("UnInitDevice %d\n", uninit());
        return 0;
    }
    auto hw = reinterpret_cast<int (*)(int, int, int, int, int)>(need("SetHardwareInfo"));
    auto init = reinterpret_cast<int (*)(void *)>(need("InitDevice"));
    auto matrix = reinterpret_cast<int (*)(int32_t *, void *)>(need("SetKeyMatrix"));
    auto config = reinterpret_cast<int (*)(int32_t *)>(need("SetConfig"));
    auto debug = reinterpret_cast<void (*)(int)>(need("SetDebug"));
    auto online = reinterpret_cast<int (*)()>(need("IsDeviceOnline"));
    auto power = reinterpret_cast<int (*)()>(need("GetPower"));
    auto version = reinterpret_cast<int (*)(char *, int)>(need("GetFwVersion"));
    auto uninit = reinterpret_cast<int (*)()>(need("UnInitDevice"));
    if (missing)
        return 2;
    std::printf("SetHardwareInfo %d\n", hw(0x258a, 0x002e, 0x002f, 13109, 0));
    std::printf("InitDevice %d\n", init(nullptr));
    std::printf("IsDeviceOnline %d\n", online());
    std::printf("GetPower %d\n", power());
    char text[64] = {};
    const int n = version(text, sizeof text);
    std::printf("GetFwVersion %d \"%.*s\"\n", n, int(strnlen(text, sizeof text)), text);
    std::printf("SetKeyMatrix %d\n", matrix(table.data(), nullptr));
    std::printf("SetConfig %d\n", config(table.data()));
    debug(0);
    std::printf("UnInitDevice %d\n", uninit());
    return 0;
}

} // namespace

int main(int argc, char **argv) {
    if (argc < 3) {
        std::fprintf(
            stderr,
            "usage: torvanix-vm-libcall DIR list | DIR write PATH | DIR bench PATH N [BYTES] | "
            "DIR kb|ms\n");
        return 2;
    }
    const std::string what = argv[2];
    if (what == "kb" || what == "ms")
        return libraryFamily(argv[1], what);
    const std::string file = std::string(argv[1]) + "/libUsbInterface.so";
    void *lib = dlopen(file.c_str(), RTLD_NOW);
    if (!lib) {
        std::fprintf(stderr, "cannot load %s: %s\n", file.c_str(), dlerror());
        return 2;
    }
    auto listing = [&](bool levels) {
        auto devices = entry<tvx_dcDevices_fn>(lib, "dcDevices");
        std::vector<uint8_t> list(TVX_LIST_BLOCK_SIZE);
        const int n = devices ? devices(list.data(), nullptr) : 0;
        for (int i = 0; i < n; ++i) {
            const uint8_t *d = list.data() + 2 + size_t(i) * TVX_DESCRIPTION_SIZE;
            const uint8_t *p = d + TVX_DESC_PATH;
            std::string path;
            for (int k = 0; k < TVX_DESC_PATH_UNITS && (p[2 * k] | p[2 * k + 1]); ++k)
                path += char(p[2 * k]);
            if (levels)
                std::printf("%s %d %d\n", path.c_str(), d[TVX_DESC_BATTERY], d[TVX_DESC_STATUS]);
            else
                std::printf("%s\n", path.c_str());
        }
        std::fflush(stdout);
    };
    if (what == "list") {
        listing(false);
        return 0;
    }
    if (what == "levels" && argc >= 4) {
        listing(true);
        for (int i = 0; i < 300 && ::access(argv[3], F_OK) != 0; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        std::printf("--\n");
        listing(true);
        return 0;
    }
    if (what == "bench" && argc >= 5) {
        const std::u16string path = widen(argv[3]);
        const auto *p = reinterpret_cast<const tvx_char16 *>(path.c_str());
        const bool write = argc >= 6;
        auto call = entry<tvx_rw_fn>(lib, write ? "dcWriteProperty" : "dcReadProperty");
        const int n = std::atoi(argv[4]);
        const int bytes = write ? std::atoi(argv[5]) : 17;
        uint8_t block[TVX_TRANSFER_BLOCK_SIZE] = {};
        for (int i = 0; i < TVX_TRANSFER_BLOCK_SIZE; ++i)
            block[i] = uint8_t(i * 13);
        int ok = 0;
        const auto start = std::chrono::steady_clock::now();
        for (int i = 0; i < n; ++i)
            ok += call && call(p, block, write ? 30 : 2, bytes) > 0;
        const double us =
            std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start)
                .count();
        std::printf("%d %s of %d bytes (%d succeeded): %.1f us each\n", n,
                    write ? "writes" : "reads", bytes, ok, n ? us / n : 0.0);
        return ok == n ? 0 : 1;
    }
    if (what != "write" || argc < 4)
        return 2;
    const std::u16string path = widen(argv[3]);
    const auto *p = reinterpret_cast<const tvx_char16 *>(path.c_str());
    uint8_t block[TVX_TRANSFER_BLOCK_SIZE] = {1, 2, 3, 4};
    int succeeded = 0;
    auto report = [&](const char *name, int ret) {
        std::printf("%s -> %d\n", name, ret);
        succeeded += ret > 0;
    };
    report("dcWriteProperty", entry<tvx_rw_fn>(lib, "dcWriteProperty")(p, block, 20, 4));
    report("dcWritePropertyForQPA",
           entry<tvx_rw_fn>(lib, "dcWritePropertyForQPA")(p, block, 20, 4));
    report("dcWriteHFDData", entry<tvx_rw_fn>(lib, "dcWriteHFDData")(p, block, 19, 4));
    report("dcWriteStartTr", entry<tvx_rw_fn>(lib, "dcWriteStartTr")(p, block, 19, 1));
    report("dcReadProperty", entry<tvx_rw_fn>(lib, "dcReadProperty")(p, block, 2, 17));
    report("Reset(2,0)", entry<tvx_Reset_fn>(lib, "Reset")(p, 2, 0));
    report("Reset(1,0)", entry<tvx_Reset_fn>(lib, "Reset")(p, 1, 0));
    report("dcEraseRom", entry<tvx_path_fn>(lib, "dcEraseRom")(p));
    report("dcWriteRom", entry<tvx_dcWriteRom_fn>(lib, "dcWriteRom")(p, block, 4, 0));
    report("FinishUpdateRom", entry<tvx_path_fn>(lib, "FinishUpdateRom")(p));
    return succeeded == 0 ? 0 : 1;
}
