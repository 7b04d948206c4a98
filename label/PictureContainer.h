// Pictures named by the markup: one picture with its bytes and GIF frames, the
// label's cache for "://" references, and the container of named pictures.
#pragma once

#include "label/MarkupCanvas.h"
#include "platform/Component.h"

#include <QByteArray>
#include <QImage>
#include <QString>

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

class QIODevice;

namespace ostrakel {

class THTMLPicture {
public:
    THTMLPicture();
    ~THTMLPicture();
    THTMLPicture(const THTMLPicture&) = delete;
    THTMLPicture& operator=(const THTMLPicture&) = delete;

    // Decoding errors reach the caller.
    void LoadFromStream(QIODevice& stream);
    void LoadFromData(const QByteArray& bytes);
    // Any failure leaves the picture empty, silently.
    void LoadFromFile(const QString& fileName);
    // The program's raw-data resources live in the Qt resource tree under ":/resources/".
    void LoadFromResourceName(const QString& resName);
    void LoadFromResourceID(int resID);
    void LoadFromURL(const QString& url);

    bool Empty() const { return FIsEmpty; }
    // The decoded image (the current frame of a GIF); null when none.
    const QImage& Image() const { return FImage; }
    const QByteArray& Data() const { return FDatastream; }
    int Width() const;
    int Height() const;
    int GetMaxWidth() const;
    int GetMaxHeight() const;
    // Stretched into rect, or at its top left corner at natural size (scaled
    // by the canvas resolution).
    void Draw(TMarkupCanvas& canvas, const TRect& rect) const;

    void Assign(const THTMLPicture* source);

    bool Stretched() const { return FStretched; }
    void SetStretched(bool value) { FStretched = value; }
    bool Asynch() const { return FAsynch; }
    void SetAsynch(bool value) { FAsynch = value; }
    bool ThreadBusy() const { return FThreadBusy; }
    const QString& URL() const { return FURL; }
    const QString& ID() const { return FID; }
    void SetID(const QString& id) { FID = id; }

    int Frame() const { return FFrame; }
    void SetFrame(int value);
    int FrameCount();
    void FrameNext();
    void FramePrev();
    // One animation tick; true when the frame changed.
    bool Step();
    int FrameXPos() const { return FFrameXPos; }
    int FrameYPos() const { return FFrameYPos; }
    int FrameXSize() const { return FFrameXSize; }
    int FrameYSize() const { return FFrameYSize; }
    bool FrameTransp() const { return FFrameTransp; }
    int FrameDisposal() const { return FFrameDisposal; }

    std::function<void(THTMLPicture*)> OnChange;
    std::function<void(THTMLPicture*)> OnFrameChange;

private:
    void Decode();
    void Changed();
    std::vector<qsizetype> FrameMarkers() const;
    void ReadFrameControl();

    QByteArray FDatastream;
    QImage FImage;
    bool FIsEmpty = true;
    bool FStretched = false;
    int FLogPixX = 96;
    int FLogPixY = 96;
    QString FURL;
    QString FID;
    bool FIsDB = false;
    bool FAsynch = true;
    bool FThreadBusy = false;
    int FFrame = 1;
    int FFrameCount = -1;
    uint16_t FFrameXPos = 0, FFrameYPos = 0, FFrameXSize = 0, FFrameYSize = 0;
    bool FFrameTransp = false;
    uint16_t FFrameDisposal = 0;
    uint16_t FAnimMaxX = 0, FAnimMaxY = 0;
    int FNextCount = -1;
    int FTimerCount = -1;
};

// Pictures loaded for "://" references, owned, in the order of loading.
class THTMLPictureCache {
public:
    THTMLPicture* AddPicture();
    // The first picture whose ID is exactly id (letter case counts).
    THTMLPicture* FindPicture(const QString& id) const;
    void ClearPictures();
    bool Animate();
    size_t Count() const { return FPictures.size(); }
    THTMLPicture* Items(size_t index) const { return FPictures[index].get(); }

private:
    std::vector<std::unique_ptr<THTMLPicture>> FPictures;
};

class TPictureItem {
public:
    THTMLPicture& Picture() { return *FPicture; }
    const THTMLPicture& Picture() const { return *FPicture; }
    // Copies the bytes of the source picture.
    void SetPicture(const THTMLPicture* source) { FPicture->Assign(source); }
    QString Name;
    int Tag = 0;

private:
    std::unique_ptr<THTMLPicture> FPicture = std::make_unique<THTMLPicture>();
};

class TPictureContainer;

class TPictureCollection {
public:
    explicit TPictureCollection(TPictureContainer* owner) : FOwner(owner) {}
    TPictureItem* Add();
    TPictureItem* Insert(size_t index);
    void Delete(size_t index);
    size_t Count() const { return FItems.size(); }
    TPictureItem* Items(size_t index) const { return FItems[index].get(); }
    TPictureContainer* Owner() const { return FOwner; }
    bool Animate();

private:
    TPictureContainer* FOwner;
    std::vector<std::unique_ptr<TPictureItem>> FItems;
};

class TPictureContainer : public TComponent {
public:
    explicit TPictureContainer(TComponent* AOwner = nullptr) : TComponent(AOwner), FItems(this) {}
    TPictureCollection& Items() { return FItems; }
    // The picture of the first item named s, letter case ignored.
    THTMLPicture* FindPicture(const QString& s);
    QString Version() const { return QStringLiteral("1.0.0.0"); }
    void SetVersion(const QString&) {}

private:
    TPictureCollection FItems;
};

} // namespace ostrakel
