// The component base: every part of the main window and of the database
// layer is owned by an owner, has a name, and knows whether it is still being
// read from its design (the loading state) or already live.
#pragma once

#include <memory>
#include <string>
#include <vector>

namespace ostrakel {

class TComponent {
public:
    explicit TComponent(TComponent* AOwner = nullptr);
    virtual ~TComponent();

    TComponent(const TComponent&) = delete;
    TComponent& operator=(const TComponent&) = delete;

    // Creates a member owned by this component; it is destroyed with it.
    template <class T, class... Args> T* Create(Args&&... args) {
        auto member = std::make_unique<T>(this, std::forward<Args>(args)...);
        return static_cast<T*>(Adopt(std::move(member)));
    }

    TComponent* Owner() const { return FOwner; }
    const std::string& Name() const { return FName; }
    void SetName(const std::string& name) { FName = name; }

    // Owners' names, outermost first, joined with "."; unnamed owners are left out.
    std::string NamePath() const;

    size_t ComponentCount() const { return FComponents.size(); }
    TComponent* Components(size_t index) const { return FComponents[index].get(); }
    TComponent* FindComponent(const std::string& name) const;

    // The loading state: set while the design settings are applied.
    bool IsLoading() const { return FLoading; }
    void BeginLoading();
    // Ends the loading state of this component and its members, members first.
    void EndLoading();

    bool IsDestroying() const { return FDestroying; }

    // Registers a component to be told when this one is destroyed.
    void FreeNotification(TComponent* other);
    void RemoveFreeNotification(TComponent* other);

protected:
    // Called once the design settings are in place.
    virtual void Loaded() {}
    // Called when a component that this one refers to is being destroyed.
    virtual void Notification(TComponent* /*component*/) {}
    // Destroys the owned members now, in reverse order of creation.
    void DestroyComponents();

private:
    TComponent* Adopt(std::unique_ptr<TComponent> member);

    TComponent* FOwner;
    std::string FName;
    bool FLoading = false;
    bool FDestroying = false;
    std::vector<std::unique_ptr<TComponent>> FComponents;
    std::vector<TComponent*> FFreeNotifies;
};

} // namespace ostrakel
