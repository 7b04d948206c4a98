#include "label/PictureContainer.h"

#include "platform/Exception.h"

#include <QBuffer>
#include <QFile>
#include <QFileInfo>
#include <QImageReader>

#include <algorithm>

namespace ostrakel {

namespace {

// A picture file larger than this is not a picture for a label.
constexpr qint64 kMaxPictureFileSize = 64 * 1024 * 1024;

uint16_t Le16(const QByteArray& b, qsizetype at) {
    return static_cast<uint16_t>(static_cast<uint8_t>(b[at]) | (static_cast<uint8_t>(b[at + 1]) << 8));
}

bool IsGif(const QByteArray& b) {
    return b.size() > 4 && b.startsWith("GIF8");
}

} // namespace

THTMLPicture::THTMLPicture() = default;
THTMLPicture::~THTMLPicture() = default;

void THTMLPicture::LoadFromStream(QIODevice& stream) {
    LoadFromData(stream.readAll());
}

void THTMLPicture::LoadFromData(const QByteArray& bytes) {
    FDatastream = bytes;
    FIsEmpty = false;
    FFrameCount = -1;
    FNextCount = -1;
    Decode();
    Changed();
}

void THTMLPicture::LoadFromFile(const QString& fileName) {
    // Only regular files: a device or a pipe would never end.
    const QFileInfo info(fileName);
    QFile file(fileName);
    if (!info.isFile() || info.size() > kMaxPictureFileSize || !file.open(QIODevice::ReadOnly)) {
        FIsEmpty = true;
        return;
    }
    try {
        LoadFromStream(file);
    } catch (const std::exception&) {
        FIsEmpty = true;
        FImage = QImage();
    }
}

void THTMLPicture::LoadFromResourceName(const QString& resName) {
    if (resName.isEmpty()) return;
    QFile file(QStringLiteral(":/resources/") + resName);
    if (!file.exists() || !file.open(QIODevice::ReadOnly)) return;
    LoadFromStream(file);
}

void THTMLPicture::LoadFromResourceID(int resID) {
    QFile file(QStringLiteral(":/resources/") + QString::number(resID));
    file.open(QIODevice::ReadOnly);
    LoadFromStream(file);
}

void THTMLPicture::LoadFromURL(const QString& url) {
    const QString upper = url.toUpper();
    if (upper.startsWith(QStringLiteral("RES://"))) {
        FID = url;
        LoadFromResourceName(url.mid(6));
    } else if (upper.startsWith(QStringLiteral("FILE://"))) {
        FID = url;
        LoadFromFile(url.mid(7));
    } else if (!FAsynch) {
        FURL = url;
        FID = url;
    } else if (!FThreadBusy) {
        // The background download has nothing to fetch with: it ends at once
        // and the picture stays empty.
        FURL = url;
        FThreadBusy = true;
    }
}

int THTMLPicture::Width() const {
    return FImage.isNull() ? 0 : FImage.width() * 96 / FLogPixX;
}
int THTMLPicture::Height() const {
    return FImage.isNull() ? 0 : FImage.height() * 96 / FLogPixY;
}
int THTMLPicture::GetMaxWidth() const {
    return FAnimMaxX ? FAnimMaxX : Width();
}
int THTMLPicture::GetMaxHeight() const {
    return FAnimMaxY ? FAnimMaxY : Height();
}

void THTMLPicture::Draw(TMarkupCanvas& canvas, const TRect& rect) const {
    if (FIsEmpty || FImage.isNull()) return;
    if (FStretched) {
        canvas.StretchImage(FImage, rect);
        return;
    }
    const int w = Width() * canvas.DpiX() / 96;
    const int h = Height() * canvas.DpiY() / 96;
    if (w == FImage.width() && h == FImage.height())
        canvas.DrawImage(FImage, rect.Left, rect.Top);
    else
        canvas.StretchImage(FImage, {rect.Left, rect.Top, rect.Left + w, rect.Top + h});
}

void THTMLPicture::Assign(const THTMLPicture* source) {
    FFrameCount = -1;
    FNextCount = -1;
    if (!source) {
        FDatastream.clear();
        FImage = QImage();
        FIsEmpty = true;
        Changed();
        return;
    }
    FDatastream = source->FDatastream;
    FStretched = source->FStretched;
    FFrame = source->FFrame;
    FIsEmpty = source->FIsEmpty;
    if (!FDatastream.isEmpty())
        Decode();
    else
        FImage = QImage();
    Changed();
}

std::vector<qsizetype> THTMLPicture::FrameMarkers() const {
    std::vector<qsizetype> markers;
    const QByteArray& b = FDatastream;
    for (qsizetype i = 0; i + 9 < b.size(); ++i) {
        if (static_cast<uint8_t>(b[i]) == 0x21 && static_cast<uint8_t>(b[i + 1]) == 0xF9 &&
            static_cast<uint8_t>(b[i + 2]) == 0x04 && static_cast<uint8_t>(b[i + 8]) == 0x2C)
            markers.push_back(i);
    }
    return markers;
}

void THTMLPicture::Decode() {
    FImage = QImage();
    FFrameXPos = FFrameYPos = FFrameXSize = FFrameYSize = 0;
    FAnimMaxX = FAnimMaxY = 0;
    if (FDatastream.isEmpty()) throw Exception("Empty image stream created");

    QByteArray data = FDatastream;
    bool framed = false;
    if (IsGif(FDatastream)) {
        const std::vector<qsizetype> markers = FrameMarkers();
        FFrameCount = static_cast<int>(markers.size());
        if (!markers.empty() && FDatastream.size() >= 10) {
            framed = true;
            FAnimMaxX = Le16(FDatastream, 6);
            FAnimMaxY = Le16(FDatastream, 8);
            const size_t frame = static_cast<size_t>(std::clamp(FFrame, 1, FFrameCount));
            const qsizetype at = markers[frame - 1];
            // The decoder shows the first image it finds: leave out the
            // frames before the one we want.
            if (frame > 1) data = FDatastream.left(markers[0]) + FDatastream.mid(at);
            const qsizetype separator = at + 8;
            if (separator + 8 < FDatastream.size()) {
                FFrameXPos = Le16(FDatastream, separator + 1);
                FFrameYPos = Le16(FDatastream, separator + 3);
                FFrameXSize = Le16(FDatastream, separator + 5);
                FFrameYSize = Le16(FDatastream, separator + 7);
            }
        }
    }

    QBuffer buffer(&data);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer);
    QImage image = reader.read();
    if (image.isNull()) {
        if (reader.error() == QImageReader::UnsupportedFormatError)
            throw Exception("Could not load image. Invalid format");
        throw Exception("Could not load image");
    }
    // Qt composes a GIF frame onto the whole logical screen; the picture is
    // the frame itself, which is drawn at its offset.
    if (framed && FFrameXSize > 0 && FFrameYSize > 0) {
        const QRect frameRect =
            QRect(FFrameXPos, FFrameYPos, FFrameXSize, FFrameYSize).intersected(image.rect());
        if (!frameRect.isEmpty() && frameRect != image.rect()) image = image.copy(frameRect);
    }
    FImage = image;
}

void THTMLPicture::Changed() {
    if (OnChange) OnChange(this);
}

int THTMLPicture::FrameCount() {
    if (FFrameCount < 0) FFrameCount = IsGif(FDatastream) ? static_cast<int>(FrameMarkers().size()) : 0;
    return FFrameCount;
}

void THTMLPicture::SetFrame(int value) {
    FFrame = value;
    if (!FDatastream.isEmpty()) {
        try {
            Decode();
        } catch (const std::exception&) {
            FImage = QImage();
        }
    }
    if (OnFrameChange) OnFrameChange(this);
}

void THTMLPicture::FrameNext() {
    const int next = FFrame + 1;
    SetFrame(next > FrameCount() ? 1 : next);
}

void THTMLPicture::FramePrev() {
    const int prev = FFrame - 1;
    SetFrame(prev < 1 ? FrameCount() : prev);
}

void THTMLPicture::ReadFrameControl() {
    const std::vector<qsizetype> markers = FrameMarkers();
    if (markers.empty()) return;
    const qsizetype at =
        markers[static_cast<size_t>(std::clamp(FFrame, 1, static_cast<int>(markers.size()))) - 1];
    const uint8_t packed = static_cast<uint8_t>(FDatastream[at + 3]);
    FFrameTransp = (packed & 1) != 0;
    FFrameDisposal = static_cast<uint16_t>((packed >> 2) & 7);
}

bool THTMLPicture::Step() {
    if (FDatastream.isEmpty() || FrameCount() < 2) return false;
    // Delays are hundredths of a second; a tick is a tenth.
    auto delay = [this] {
        const std::vector<qsizetype> markers = FrameMarkers();
        const qsizetype at =
            markers[static_cast<size_t>(std::clamp(FFrame, 1, static_cast<int>(markers.size()))) - 1];
        return static_cast<int>(Le16(FDatastream, at + 4));
    };
    if (FNextCount == -1) {
        ReadFrameControl();
        FNextCount = delay();
    }
    bool changed = false;
    if (FTimerCount * 10 >= FNextCount) {
        FrameNext();
        ReadFrameControl();
        FNextCount += delay();
        changed = true;
    }
    ++FTimerCount;
    return changed;
}

// ---- THTMLPictureCache ----

THTMLPicture* THTMLPictureCache::AddPicture() {
    FPictures.push_back(std::make_unique<THTMLPicture>());
    return FPictures.back().get();
}

THTMLPicture* THTMLPictureCache::FindPicture(const QString& id) const {
    for (const auto& p : FPictures)
        if (p->ID() == id) return p.get();
    return nullptr;
}

void THTMLPictureCache::ClearPictures() {
    FPictures.clear();
}

bool THTMLPictureCache::Animate() {
    bool changed = false;
    for (const auto& p : FPictures)
        changed = p->Step() || changed;
    return changed;
}

// ---- container ----

TPictureItem* TPictureCollection::Add() {
    FItems.push_back(std::make_unique<TPictureItem>());
    return FItems.back().get();
}

TPictureItem* TPictureCollection::Insert(size_t index) {
    index = std::min(index, FItems.size());
    auto it =
        FItems.insert(FItems.begin() + static_cast<std::ptrdiff_t>(index), std::make_unique<TPictureItem>());
    return it->get();
}

void TPictureCollection::Delete(size_t index) {
    if (index < FItems.size()) FItems.erase(FItems.begin() + static_cast<std::ptrdiff_t>(index));
}

bool TPictureCollection::Animate() {
    bool changed = false;
    for (const auto& item : FItems)
        changed = item->Picture().Step() || changed;
    return changed;
}

THTMLPicture* TPictureContainer::FindPicture(const QString& s) {
    for (size_t i = 0; i < FItems.Count(); ++i) {
        TPictureItem* item = FItems.Items(i);
        if (item->Name.compare(s, Qt::CaseInsensitive) == 0) return &item->Picture();
    }
    return nullptr;
}

} // namespace ostrakel
