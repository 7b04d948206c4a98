// An image list for "IDX:" picture references: equally sized images by index,
// with change links that tell their users when the list changes.
#pragma once

#include "platform/Component.h"

#include <QImage>

#include <functional>
#include <vector>

namespace ostrakel {

class TCustomImageList;

// Held by a user of an image list; told about every change of the list.
class TChangeLink {
public:
    TChangeLink() = default;
    ~TChangeLink();
    TChangeLink(const TChangeLink&) = delete;
    TChangeLink& operator=(const TChangeLink&) = delete;

    TCustomImageList* Sender() const { return FSender; }
    std::function<void()> OnChange;

private:
    friend class TCustomImageList;
    TCustomImageList* FSender = nullptr;
};

class TCustomImageList : public TComponent {
public:
    explicit TCustomImageList(TComponent* AOwner = nullptr, int width = 16, int height = 16);
    ~TCustomImageList() override;

    int Width() const { return FWidth; }
    int Height() const { return FHeight; }
    int Count() const { return static_cast<int>(FImages.size()); }
    const QImage& Image(int index) const { return FImages[static_cast<size_t>(index)]; }
    // Adds an image, fitted to the list's size; returns its index.
    int Add(const QImage& image);
    void Clear();

    void RegisterChanges(TChangeLink* link);
    void UnRegisterChanges(TChangeLink* link);

private:
    void Change();
    int FWidth;
    int FHeight;
    std::vector<QImage> FImages;
    std::vector<TChangeLink*> FLinks;
};

} // namespace ostrakel
