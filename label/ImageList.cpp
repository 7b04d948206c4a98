#include "label/ImageList.h"

#include <algorithm>

namespace ostrakel {

TChangeLink::~TChangeLink() {
    if (FSender) FSender->UnRegisterChanges(this);
}

TCustomImageList::TCustomImageList(TComponent* AOwner, int width, int height)
    : TComponent(AOwner), FWidth(width), FHeight(height) {}

TCustomImageList::~TCustomImageList() {
    for (TChangeLink* link : FLinks)
        link->FSender = nullptr;
}

int TCustomImageList::Add(const QImage& image) {
    FImages.push_back(image.size() == QSize(FWidth, FHeight)
                          ? image
                          : image.scaled(FWidth, FHeight, Qt::IgnoreAspectRatio, Qt::SmoothTransformation));
    Change();
    return Count() - 1;
}

void TCustomImageList::Clear() {
    FImages.clear();
    Change();
}

void TCustomImageList::RegisterChanges(TChangeLink* link) {
    if (!link || std::find(FLinks.begin(), FLinks.end(), link) != FLinks.end()) return;
    if (link->FSender) link->FSender->UnRegisterChanges(link);
    link->FSender = this;
    FLinks.push_back(link);
}

void TCustomImageList::UnRegisterChanges(TChangeLink* link) {
    auto it = std::find(FLinks.begin(), FLinks.end(), link);
    if (it == FLinks.end()) return;
    (*it)->FSender = nullptr;
    FLinks.erase(it);
}

void TCustomImageList::Change() {
    for (TChangeLink* link : std::vector<TChangeLink*>(FLinks))
        if (link->OnChange) link->OnChange();
}

} // namespace ostrakel
