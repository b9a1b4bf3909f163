// A stand-in for the hidapi library (the same hid_* functions), for the tests of the real HID adapter where no
// receiver exists: it shows one receiver (04D8:173F) while "plugged in", records the request reports written to
// it, and answers each read with the next scripted answer report, as hidraw delivers an unnumbered report: its 64
// data bytes, without the report-id byte. The tests drive it through the standin_* functions.
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <mutex>
#include <vector>

#include <hidapi.h>

namespace
{

struct State {
    std::mutex lock;
    std::condition_variable changed;
    bool present = false;
    bool openable = true; // false: the node is there but may not be opened (EACCES)
    int generation = 0; // counts unplugs: a handle of an earlier plug stays dead
    std::deque<std::vector<unsigned char>> answers;
    std::vector<std::vector<unsigned char>> writes;
};

State& state()
{
    static State s;
    return s;
}

const wchar_t kEmpty[] = L"";

} // namespace

struct hid_device_ {
    int generation;
};

extern "C" {

__attribute__((visibility("default"))) void standin_set_present(int present)
{
    State& s = state();
    std::lock_guard guard(s.lock);
    if (s.present && !present)
        ++s.generation;
    s.present = present != 0;
    s.changed.notify_all();
}

__attribute__((visibility("default"))) void standin_set_openable(int openable)
{
    State& s = state();
    std::lock_guard guard(s.lock);
    s.openable = openable != 0;
}

// Queues an answer report of 65 bytes (byte 0: the report id).
__attribute__((visibility("default"))) void standin_queue_answer(const unsigned char* report65)
{
    State& s = state();
    std::lock_guard guard(s.lock);
    s.answers.emplace_back(report65 + 1, report65 + 65);
    s.changed.notify_all();
}

// The writes so far: count, and a copy of write number index (its length returned).
__attribute__((visibility("default"))) int standin_write_count()
{
    State& s = state();
    std::lock_guard guard(s.lock);
    return static_cast<int>(s.writes.size());
}

__attribute__((visibility("default"))) int standin_write(int index, unsigned char* out, int capacity)
{
    State& s = state();
    std::lock_guard guard(s.lock);
    if (index < 0 || index >= static_cast<int>(s.writes.size()))
        return -1;
    const std::vector<unsigned char>& w = s.writes[static_cast<std::size_t>(index)];
    std::memcpy(out, w.data(), std::min<std::size_t>(w.size(), static_cast<std::size_t>(capacity)));
    return static_cast<int>(w.size());
}

int hid_init(void)
{
    return 0;
}

int hid_exit(void)
{
    return 0;
}

hid_device_info* hid_enumerate(unsigned short vendor, unsigned short product)
{
    State& s = state();
    std::lock_guard guard(s.lock);
    if (!s.present || (vendor && vendor != 0x04D8) || (product && product != 0x173F))
        return nullptr;
    auto* info = static_cast<hid_device_info*>(std::calloc(1, sizeof(hid_device_info)));
    info->path = strdup("/dev/hidraw-standin");
    info->vendor_id = 0x04D8;
    info->product_id = 0x173F;
    info->serial_number = const_cast<wchar_t*>(kEmpty);
    info->manufacturer_string = const_cast<wchar_t*>(kEmpty);
    info->product_string = const_cast<wchar_t*>(kEmpty);
    return info;
}

void hid_free_enumeration(hid_device_info* devs)
{
    while (devs) {
        hid_device_info* next = devs->next;
        std::free(devs->path);
        std::free(devs);
        devs = next;
    }
}

hid_device* hid_open_path(const char* path)
{
    State& s = state();
    std::lock_guard guard(s.lock);
    if (!s.present || std::strcmp(path, "/dev/hidraw-standin") != 0)
        return nullptr;
    if (!s.openable) {
        errno = EACCES;
        return nullptr;
    }
    return new hid_device_ { s.generation };
}

void hid_close(hid_device* dev)
{
    delete dev;
}

int hid_write(hid_device* dev, const unsigned char* data, size_t length)
{
    State& s = state();
    std::lock_guard guard(s.lock);
    if (!s.present || dev->generation != s.generation)
        return -1;
    s.writes.emplace_back(data, data + length);
    return static_cast<int>(length);
}

int hid_read_timeout(hid_device* dev, unsigned char* data, size_t length, int milliseconds)
{
    State& s = state();
    std::unique_lock guard(s.lock);
    const auto ready = [&] { return !s.present || dev->generation != s.generation || !s.answers.empty(); };
    if (milliseconds < 0)
        s.changed.wait(guard, ready);
    else
        s.changed.wait_for(guard, std::chrono::milliseconds(milliseconds), ready);
    if (!s.present || dev->generation != s.generation)
        return -1; // unplugged: hidraw reports an error
    if (s.answers.empty())
        return 0;
    const std::vector<unsigned char> answer = std::move(s.answers.front());
    s.answers.pop_front();
    const std::size_t n = std::min(length, answer.size());
    std::memcpy(data, answer.data(), n);
    return static_cast<int>(n);
}

const wchar_t* hid_error(hid_device*)
{
    return L"stand-in";
}
}
