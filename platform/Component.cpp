#include "platform/Component.h"

#include <algorithm>

namespace ostrakel {

TComponent::TComponent(TComponent* AOwner) : FOwner(AOwner) {}

TComponent::~TComponent() {
    FDestroying = true;
    // Tell everyone who refers to us, then let them forget us.
    auto notifies = std::move(FFreeNotifies);
    for (TComponent* other : notifies) {
        other->RemoveFreeNotification(this);
        other->Notification(this);
    }
    DestroyComponents();
}

void TComponent::DestroyComponents() {
    while (!FComponents.empty()) {
        // Take the member out of the list first so that it is not reachable
        // while it runs its destructor.
        std::unique_ptr<TComponent> last = std::move(FComponents.back());
        FComponents.pop_back();
        last.reset();
    }
}

TComponent* TComponent::Adopt(std::unique_ptr<TComponent> member) {
    // A member created while its owner reads its design is part of that design.
    if (FLoading) member->BeginLoading();
    FComponents.push_back(std::move(member));
    return FComponents.back().get();
}

std::string TComponent::NamePath() const {
    std::string path = FName;
    for (const TComponent* o = FOwner; o; o = o->FOwner) {
        if (o->FName.empty()) continue;
        path = path.empty() ? o->FName : o->FName + "." + path;
    }
    return path;
}

TComponent* TComponent::FindComponent(const std::string& name) const {
    for (const auto& c : FComponents)
        if (c->FName == name) return c.get();
    return nullptr;
}

void TComponent::BeginLoading() {
    FLoading = true;
    for (const auto& c : FComponents) c->BeginLoading();
}

void TComponent::EndLoading() {
    for (const auto& c : FComponents) c->EndLoading();
    if (FLoading) {
        FLoading = false;
        Loaded();
    }
}

void TComponent::FreeNotification(TComponent* other) {
    if (!other || other == this) return;
    if (std::find(FFreeNotifies.begin(), FFreeNotifies.end(), other) == FFreeNotifies.end()) {
        FFreeNotifies.push_back(other);
        other->FreeNotification(this);
    }
}

void TComponent::RemoveFreeNotification(TComponent* other) {
    auto it = std::find(FFreeNotifies.begin(), FFreeNotifies.end(), other);
    if (it != FFreeNotifies.end()) {
        FFreeNotifies.erase(it);
        other->RemoveFreeNotification(this);
    }
}

} // namespace ostrakel
