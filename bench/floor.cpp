// The floor kelvarin is measured against: reads a file line by line and
// writes each line with CR LF to "<file>.floor.txt" in one write call,
// flushed at once, as every output line of kelvarin must be. It does no
// other work, so its time is the cost of the output rules alone.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fputs("usage: floor FILE\n", stderr);
        return 2;
    }
    std::FILE* in = std::fopen(argv[1], "rb");
    const std::string out_path = std::string(argv[1]) + ".floor.txt";
    std::FILE* out = std::fopen(out_path.c_str(), "wb");
    if (in == nullptr || out == nullptr) return 1;
    std::setvbuf(in, nullptr, _IONBF, 0);
    std::setvbuf(out, nullptr, _IOFBF, 1 << 16);
    std::vector<char> block(1 << 16);
    std::string line;
    for (;;) {
        const std::size_t n = std::fread(block.data(), 1, block.size(), in);
        if (n == 0) break;
        const char* p = block.data();
        const char* end = p + n;
        while (p < end) {
            const char* lf = static_cast<const char*>(std::memchr(p, '\n', static_cast<std::size_t>(end - p)));
            if (lf == nullptr) {
                line.append(p, end);
                break;
            }
            line.append(p, lf);
            line += "\r\n";
            std::fwrite(line.data(), 1, line.size(), out);
            std::fflush(out);
            line.clear();
            p = lf + 1;
        }
    }
    if (!line.empty()) {
        line += "\r\n";
        std::fwrite(line.data(), 1, line.size(), out);
        std::fflush(out);
    }
    std::fclose(in);
    return std::fclose(out) == 0 ? 0 : 1;
}
