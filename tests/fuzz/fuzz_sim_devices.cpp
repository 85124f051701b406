// Arbitrary bytes as the test bus's --devices file. Invariants: the file loads or fails with
// a message that names the file; every device loaded has a product and values in range.
#include "tools/sim/sim_options.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>

namespace {

void Require(bool condition) {
    if (!condition)
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const std::string path = [] {
        char pattern[] = "/tmp/kestrom-fuzz-devices.XXXXXX";
        const int fd = mkstemp(pattern);
        Require(fd >= 0);
        close(fd);
        return std::string(pattern);
    }();
    std::FILE* file = std::fopen(path.c_str(), "wb");
    Require(file != nullptr && std::fwrite(data, 1, size, file) == size);
    std::fclose(file);

    std::vector<DeviceInfo> devices;
    std::string error;
    if (!LoadDeviceFile(path, devices, error)) {
        Require(error.rfind(path + ":", 0) == 0);
        return 0;
    }
    Require(error.empty());
    for (const DeviceInfo& device : devices)
        Require(device.serial <= 0xFFFFFF);
    return 0;
}
