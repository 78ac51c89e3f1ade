#pragma once

#include "shell/StatusBadgeGlyph.h"
#include "shell/StatusBar.h"

#include <map>

namespace quorvel::test {

// A status area in memory: records what the controller draws and lets a test hide the item,
// replace its menu or click a row.
class FakeStatusItem : public StatusItem {
public:
    bool button = true;
    bool visible = true;
    bool removed = false;
    std::vector<StatusButtonContent> buttons;
    std::vector<double> opacities;
    std::shared_ptr<StatusMenu> attachedMenu;
    int menuChanges = 0;
    std::optional<ScreenRect> frame;
    std::map<int, std::function<void(bool)>> observers;

    bool hasButton() const override { return button; }
    void setButton(const StatusButtonContent& content) override { buttons.push_back(content); }
    void setOpacity(double opacity) override { opacities.push_back(opacity); }
    void setMenu(std::shared_ptr<StatusMenu> menu) override { attachedMenu = std::move(menu); }
    std::shared_ptr<StatusMenu> menu() const override { return attachedMenu; }
    void menuDidChange() override { ++menuChanges; }
    bool isVisible() const override { return visible; }
    ObservationHandle observeVisibility(std::function<void(bool)> handler) override {
        int id = nextObserver++;
        observers[id] = std::move(handler);
        struct Handle : Observation {
            FakeStatusItem* item;
            int id;
            Handle(FakeStatusItem* i, int n) : item(i), id(n) {}
            ~Handle() override { item->observers.erase(id); }
        };
        return std::make_unique<Handle>(this, id);
    }
    std::optional<ScreenRect> buttonScreenFrame() const override { return frame; }
    void removeFromStatusBar() override { removed = true; }

    void setVisible(bool value) {
        visible = value;
        auto copy = observers;
        for (auto& [id, handler] : copy)
            handler(value);
    }
    // Chooses the row with this title, as a user would.
    void choose(const std::string& title) {
        for (const auto& item : attachedMenu->items) {
            if (item.title == title && item.hasAction && item.enabled && !item.hidden)
                attachedMenu->action(item.tag);
        }
    }
    const StatusMenuItem& row(std::size_t index) const { return attachedMenu->items.at(index); }

private:
    int nextObserver = 0;
};

class FakeStatusBar : public StatusBar {
public:
    std::shared_ptr<FakeStatusItem> item = std::make_shared<FakeStatusItem>();
    bool reduceMotion = false;
    std::vector<ScreenRect> screens{{0, 0, 1920, 1080}};
    int itemsMade = 0;

    std::shared_ptr<StatusItem> makeStatusItem() override {
        ++itemsMade;
        return item;
    }
    bool hasSymbolImage(std::string_view name) const override { return hasBadgeGlyph(name); }
    bool reducedMotion() const override { return reduceMotion; }
    std::vector<ScreenRect> screenFrames() const override { return screens; }
};

} // namespace quorvel::test
