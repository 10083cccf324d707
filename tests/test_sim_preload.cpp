// Checks the preload library the way the program meets it: this program
// links the real hidapi, and CTest starts it with libkvz-sim-hidapi.so in
// LD_PRELOAD and KVZ_SIM_UNIT naming a control file that does not exist
// yet. The simulated unit must answer, from that file and its memory image.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <hidapi.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "support.h"

namespace fs = std::filesystem;

namespace {

fs::path controlFile() { return std::getenv("KVZ_SIM_UNIT"); }

int exchange(hid_device* h, unsigned char command, unsigned char block, unsigned char reply[64],
             const unsigned char* payload = nullptr)
{
    unsigned char out[65] = {0, command, block};
    if (payload)
        std::memcpy(out + 5, payload, 32);
    if (hid_write(h, out, sizeof out) != 65)
        return -1;
    return hid_read_timeout(h, reply, 64, 1000);
}

TEST(PreloadedUnit, StandsInForHidapi)
{
    Dl_info info{};
    ASSERT_NE(dladdr(reinterpret_cast<void*>(&hid_enumerate), &info), 0);
    ASSERT_NE(info.dli_fname, nullptr);
    EXPECT_NE(std::string(info.dli_fname).find("libkvz-sim-hidapi"), std::string::npos)
        << "hid_enumerate comes from " << info.dli_fname;
}

TEST(PreloadedUnit, FollowsItsControlFileAndImage)
{
    ASSERT_FALSE(controlFile().empty()) << "KVZ_SIM_UNIT is not set";
    fs::path dir = controlFile().parent_path();
    fs::create_directories(dir);
    fs::remove(controlFile());
    EXPECT_EQ(hid_enumerate(0x04D8, 0x003C), nullptr) << "no control file, no unit";

    std::string image(1024, '\0');
    for (int i = 0; i < 32; ++i)
        image[7 * 32 + i] = static_cast<char>(0x40 + i);
    replaceFile(dir / "memory.bin", image);
    replaceFile(controlFile(), "manufacturer=Preloaded\nproduct=null\nrpm=2500\nmemory=memory.bin\n");

    hid_device_info* list = hid_enumerate(0x04D8, 0x003C);
    ASSERT_NE(list, nullptr);
    ASSERT_NE(list->manufacturer_string, nullptr);
    EXPECT_STREQ(list->manufacturer_string, L"Preloaded");
    EXPECT_EQ(list->product_string, nullptr);
    hid_free_enumeration(list);

    hid_device* h = hid_open(0x04D8, 0x003C, nullptr);
    ASSERT_NE(h, nullptr);
    unsigned char reply[64];
    ASSERT_EQ(exchange(h, 0x83, 0, reply), 64);
    EXPECT_EQ(reply[0] | reply[1] << 8, 2500);
    ASSERT_EQ(exchange(h, 0x80, 7, reply), 64);
    EXPECT_EQ(0, std::memcmp(reply + 4, image.data() + 7 * 32, 32));

    unsigned char payload[32];
    for (int i = 0; i < 32; ++i)
        payload[i] = static_cast<unsigned char>(0xF0 - i);
    ASSERT_EQ(exchange(h, 0x82, 20, reply, payload), 64);
    std::memcpy(&image[20 * 32], payload, 32);
    EXPECT_EQ(readFile(dir / "memory.bin"), image) << "written back after the block write";
    hid_close(h);

    replaceFile(controlFile(), "present=0\n");
    EXPECT_EQ(hid_enumerate(0x04D8, 0x003C), nullptr) << "unplugged by rewriting the file";
    EXPECT_EQ(hid_open(0x04D8, 0x003C, nullptr), nullptr);
}

// Four processes at once take turns with the unit's state: of their 800
// requests, exactly the last meets the write fault set for it. A turn
// shared would lose some of the count.
TEST(PreloadedUnit, ProcessesTakeTurnsWithTheUnitsState)
{
    replaceFile(controlFile(), "write_fails_at=800\n");
    std::vector<pid_t> children(4);
    for (pid_t& child : children)
        if ((child = fork()) == 0) {
            hid_device* h = hid_open(0x04D8, 0x003C, nullptr);
            const unsigned char request[65] = {0, 0x80, 7};
            int failed = 0;
            for (int n = 0; h && n < 200; ++n)
                failed += hid_write(h, request, sizeof request) < 0;
            _exit(h ? failed : 100);
        }
    int failed = 0;
    for (pid_t child : children) {
        int status = 0;
        waitpid(child, &status, 0);
        failed += WIFEXITED(status) ? WEXITSTATUS(status) : 100;
    }
    EXPECT_EQ(failed, 1);
}

}  // namespace
