#pragma once

#include "platform/Observation.h"
#include "shell/StatusImage.h"
#include "shell/StatusMenu.h"

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quorvel {

struct ScreenRect {
    double x = 0;
    double y = 0;
    double width = 0;
    double height = 0;
    bool operator==(const ScreenRect&) const = default;
};

// What the status item's button shows.
struct StatusButtonContent {
    std::shared_ptr<const StatusImage> image;
    std::string badgeSymbol; // a symbol the status bar knows (hasSymbolImage), drawn after the
                             // image; empty for none
    std::string toolTip;
    std::string accessibilityLabel;
    std::string accessibilityValue;
    bool operator==(const StatusButtonContent& other) const {
        bool sameImage = image == other.image || (image && other.image && *image == *other.image);
        return sameImage && badgeSymbol == other.badgeSymbol && toolTip == other.toolTip &&
               accessibilityLabel == other.accessibilityLabel &&
               accessibilityValue == other.accessibilityValue;
    }
};

// One item in the desktop's status area: a button with an image and a menu. Main thread only.
class StatusItem {
public:
    virtual ~StatusItem() = default;

    // False when the platform could not give the item a button (nothing can be drawn).
    virtual bool hasButton() const = 0;
    virtual void setButton(const StatusButtonContent& content) = 0;
    // Opacity of the whole button, 0 to 1.
    virtual void setOpacity(double opacity) = 0;

    virtual void setMenu(std::shared_ptr<StatusMenu> menu) = 0;
    virtual std::shared_ptr<StatusMenu> menu() const = 0;
    // The attached menu's rows changed; the platform redraws what differs.
    virtual void menuDidChange() = 0;

    // Whether the item can be seen now.
    virtual bool isVisible() const = 0;
    // Calls handler(visible) on the main thread whenever visibility changes, for as long as the
    // handle lives.
    virtual ObservationHandle observeVisibility(std::function<void(bool visible)> handler) = 0;

    // The button's frame in global screen coordinates, when the platform knows one.
    virtual std::optional<ScreenRect> buttonScreenFrame() const = 0;

    // Takes the item out of the status area for good.
    virtual void removeFromStatusBar() = 0;
};

// The desktop's status area: the seam between the status shell and the platform.
class StatusBar {
public:
    virtual ~StatusBar() = default;

    // A new item; never null, but it may lack a button.
    virtual std::shared_ptr<StatusItem> makeStatusItem() = 0;
    // Whether a symbol of that name can be drawn as the button's badge.
    virtual bool hasSymbolImage(std::string_view name) const = 0;
    // The desktop's accessibility setting to reduce motion.
    virtual bool reducedMotion() const = 0;
    virtual std::vector<ScreenRect> screenFrames() const = 0;
};

} // namespace quorvel
