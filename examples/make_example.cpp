// Writes the bundled example recording: 20 seconds at 1000 frames a
// second. Channel 2 answers every event with a damped wave, channel 1 with
// a short negative pulse, both over a little noise. Three frames in four carry the keep flag, and an event comes
// about every 250 frames. Deterministic: the same bytes on every machine.
#include <cmath>
#include <cstdint>
#include <cstdio>

int main(int argc, char** argv) {
    if (argc != 2) {
        fprintf(stderr, "usage: make_example FILE\n");
        return 2;
    }
    FILE* out = fopen(argv[1], "wb");
    if (out == nullptr) {
        perror(argv[1]);
        return 1;
    }
    uint32_t noise = 12345;
    int since_event = 1000;
    for (int i = 0; i < 20000; i++) {
        noise = noise * 1103515245u + 12345u;
        int jitter = static_cast<int>((noise >> 16) % 200) - 100;
        bool event = i % 250 == 100;
        since_event = event ? 0 : since_event + 1;
        double answer = since_event < 100 ? 12000.0 * std::exp(-since_event / 30.0) * std::sin(since_event / 6.0) : 0.0;
        auto channel2 = static_cast<int16_t>(std::lround(answer) + jitter);
        double pulse = since_event < 40 ? -6000.0 * std::exp(-since_event / 8.0) : 0.0;
        auto channel1 = static_cast<int16_t>(std::lround(pulse) - jitter);
        uint16_t flags = (i % 4 != 3 || event ? 0x0001 : 0) | (event ? 0x0010 : 0);
        uint16_t low = static_cast<uint16_t>((static_cast<uint16_t>(channel1) & ~0x0011u) | flags);
        uint32_t frame = low | (static_cast<uint32_t>(static_cast<uint16_t>(channel2)) << 16);
        unsigned char bytes[4] = {static_cast<unsigned char>(frame), static_cast<unsigned char>(frame >> 8),
                                  static_cast<unsigned char>(frame >> 16), static_cast<unsigned char>(frame >> 24)};
        fwrite(bytes, 1, 4, out);
    }
    return fclose(out) == 0 ? 0 : 1;
}
