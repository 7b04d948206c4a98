// Builds small GIF files byte by byte for the picture tests: a 4-colour
// palette and frames, each with its graphic control extension.
#pragma once

#include <QByteArray>
#include <QRgb>

#include <cstdint>
#include <vector>

namespace ostrakel::test {

struct TGifFrame {
    int Left = 0, Top = 0, Width = 1, Height = 1;
    uint8_t Index = 1; // every pixel of the frame has this palette index
    int Delay = 0;     // hundredths of a second
};

// Palette: 0 white, 1 red, 2 blue, 3 green.
inline QByteArray MakeGif(int screenWidth, int screenHeight, const std::vector<TGifFrame>& frames) {
    QByteArray b("GIF89a");
    auto le16 = [&](int v) {
        b.append(static_cast<char>(v & 0xFF));
        b.append(static_cast<char>((v >> 8) & 0xFF));
    };
    le16(screenWidth);
    le16(screenHeight);
    b.append(static_cast<char>(0x91)); // global colour table of 4 entries
    b.append('\0');
    b.append('\0');
    const uint8_t palette[] = {255, 255, 255, 255, 0, 0, 0, 0, 255, 0, 255, 0};
    b.append(reinterpret_cast<const char*>(palette), sizeof palette);
    for (const TGifFrame& f : frames) {
        const uint8_t gce[] = {
            0x21, 0xF9, 0x04, 0x00, static_cast<uint8_t>(f.Delay & 0xFF), static_cast<uint8_t>(f.Delay >> 8),
            0x00, 0x00};
        b.append(reinterpret_cast<const char*>(gce), sizeof gce);
        b.append(static_cast<char>(0x2C));
        le16(f.Left);
        le16(f.Top);
        le16(f.Width);
        le16(f.Height);
        b.append('\0');
        // LZW with a clear code before every pixel: the code width stays 3 bits.
        std::vector<uint8_t> data;
        uint32_t acc = 0;
        int bits = 0;
        auto put = [&](uint32_t code) {
            acc |= code << bits;
            bits += 3;
            while (bits >= 8) {
                data.push_back(static_cast<uint8_t>(acc & 0xFF));
                acc >>= 8;
                bits -= 8;
            }
        };
        for (int i = 0; i < f.Width * f.Height; ++i) {
            put(4);
            put(f.Index);
        }
        put(5);
        if (bits > 0) data.push_back(static_cast<uint8_t>(acc & 0xFF));
        b.append(static_cast<char>(2)); // minimum code size
        for (size_t at = 0; at < data.size(); at += 255) {
            const size_t n = std::min<size_t>(255, data.size() - at);
            b.append(static_cast<char>(n));
            b.append(reinterpret_cast<const char*>(data.data() + at), static_cast<qsizetype>(n));
        }
        b.append('\0');
    }
    b.append(static_cast<char>(0x3B));
    return b;
}

} // namespace ostrakel::test
