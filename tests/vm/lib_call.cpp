// Calls a device access library's entries directly, for the VM tests:
//   torvanix-vm-libcall DIR list          prints the listed interface paths, one a line
//   torvanix-vm-libcall DIR write PATH    tries every writing entry on PATH; exit 0 when all
//                                         of them failed
//   torvanix-vm-libcall DIR bench PATH N [BYTES]
//                                         times N register reads on PATH (with BYTES: writes
//                                         of that many bytes), prints us per call
#include "torvanix/devlib.h"

#include <dlfcn.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
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

} // namespace

int main(int argc, char **argv) {
    if (argc < 3) {
        std::fprintf(
            stderr,
            "usage: torvanix-vm-libcall DIR list | DIR write PATH | DIR bench PATH N [BYTES]\n");
        return 2;
    }
    const std::string file = std::string(argv[1]) + "/libUsbInterface.so";
    void *lib = dlopen(file.c_str(), RTLD_NOW);
    if (!lib) {
        std::fprintf(stderr, "cannot load %s: %s\n", file.c_str(), dlerror());
        return 2;
    }
    const std::string what = argv[2];
    if (what == "list") {
        auto devices = entry<tvx_dcDevices_fn>(lib, "dcDevices");
        std::vector<uint8_t> list(TVX_LIST_BLOCK_SIZE);
        const int n = devices ? devices(list.data(), nullptr) : 0;
        for (int i = 0; i < n; ++i) {
            const uint8_t *p = list.data() + 2 + size_t(i) * TVX_DESCRIPTION_SIZE + TVX_DESC_PATH;
            std::string path;
            for (int k = 0; k < TVX_DESC_PATH_UNITS && (p[2 * k] | p[2 * k + 1]); ++k)
                path += char(p[2 * k]);
            std::printf("%s\n", path.c_str());
        }
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
