// quorvel-png-rgba INPUT.png SIZE OUTPUT.rgba
// Decodes a square PNG of SIZE by SIZE pixels and writes its pixels as 8-bit RGBA rows, top to
// bottom, straight alpha. Fails, and writes nothing, for anything else: the build stops there
// rather than embedding a glyph that would not show.

#include "image/PngDecoder.h"

#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: quorvel-png-rgba INPUT.png SIZE OUTPUT.rgba\n");
        return 2;
    }
    std::ifstream input(argv[1], std::ios::binary);
    std::vector<std::uint8_t> file((std::istreambuf_iterator<char>(input)),
                                   std::istreambuf_iterator<char>());
    auto bitmap = quorvel::decodePng(file);
    if (!bitmap) {
        std::fprintf(stderr, "quorvel-png-rgba: %s is not a PNG file that can be decoded\n",
                     argv[1]);
        return 1;
    }
    int size = std::atoi(argv[2]);
    if (bitmap->width != size || bitmap->height != size) {
        std::fprintf(stderr, "quorvel-png-rgba: %s is %d by %d pixels, not %d by %d\n", argv[1],
                     bitmap->width, bitmap->height, size, size);
        return 1;
    }
    std::string staged = std::string(argv[3]) + ".tmp";
    {
        std::ofstream output(staged, std::ios::binary | std::ios::trunc);
        output.write(reinterpret_cast<const char*>(bitmap->rgba.data()),
                     static_cast<std::streamsize>(bitmap->rgba.size()));
        if (!output.flush()) {
            std::fprintf(stderr, "quorvel-png-rgba: cannot write %s\n", staged.c_str());
            std::remove(staged.c_str());
            return 1;
        }
    }
    if (std::rename(staged.c_str(), argv[3]) != 0) {
        std::fprintf(stderr, "quorvel-png-rgba: cannot write %s\n", argv[3]);
        std::remove(staged.c_str());
        return 1;
    }
    return 0;
}
