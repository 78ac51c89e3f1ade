#include "shell/MenuBarController.h"

#include "shell/BrandedStatusIcon.h"

#include <array>
#include <limits>
#include <utility>

namespace quorvel {

namespace {

constexpr std::array<std::pair<ShellCommand, std::string_view>, 4> commandItems{{
    {ShellCommand::showWindow, "Open Quorvel"},
    {ShellCommand::openOutput, "Open Recordings Folder"},
    {ShellCommand::checkForUpdates, "Check for Updates\u2026"},
    {ShellCommand::quit, "Quit Quorvel"},
}};

bool endsGroup(ShellCommand command) {
    return command == ShellCommand::openOutput || command == ShellCommand::checkForUpdates;
}

StatusMenuItem separator() {
    StatusMenuItem item;
    item.kind = StatusMenuItem::Kind::separator;
    return item;
}

} // namespace

std::shared_ptr<MenuBarController> MenuBarController::create(std::shared_ptr<StatusBar> statusBar,
                                                             CommandSink send) {
    if (!statusBar)
        return nullptr;
    std::shared_ptr<MenuBarController> controller(
        new MenuBarController(std::move(statusBar), std::move(send)));
    if (!controller->setUp())
        return nullptr;
    return controller;
}

MenuBarController::MenuBarController(std::shared_ptr<StatusBar> statusBar, CommandSink send)
    : statusBar_(std::move(statusBar)), send_(std::move(send)),
      menu_(std::make_shared<StatusMenu>()), presentation_(StatusPresentation::unknown()) {}

MenuBarController::~MenuBarController() {
    // A controller dropped without remove() still takes its item down and ends its cue.
    if (!removed_)
        remove();
}

bool MenuBarController::setUp() {
    auto icon = BrandedStatusIcon::make();
    if (!icon) {
        removed_ = true;
        return false;
    }
    brandedIcon_ = std::make_shared<const StatusImage>(std::move(*icon));

    statusItem_ = statusBar_->makeStatusItem();
    if (!statusItem_ || !statusItem_->hasButton()) {
        if (statusItem_)
            statusItem_->removeFromStatusBar();
        statusItem_.reset();
        removed_ = true;
        return false;
    }

    buildMenu();
    statusItem_->setMenu(menu_);
    render(StatusPresentation::unknown());

    std::weak_ptr<MenuBarController> weak = weak_from_this();
    freshnessTimer_ = MainLoop::shared().scheduleTimer(refreshInterval, true, [weak] {
        if (auto self = weak.lock())
            self->refresh();
    });
    visibilityObservation_ = statusItem_->observeVisibility([weak](bool visible) {
        if (visible)
            return;
        auto deliver = [weak] {
            if (auto self = weak.lock())
                self->sendCommand(ShellCommand::statusUnavailable);
        };
        if (MainLoop::shared().isMainThread()) {
            deliver();
        } else {
            MainLoop::shared().post(deliver);
        }
    });
    if (!statusItem_->isVisible())
        sendCommand(ShellCommand::statusUnavailable);
    return true;
}

void MenuBarController::buildMenu() {
    menu_->autoenablesItems = false;
    std::weak_ptr<MenuBarController> weak = weak_from_this();
    menu_->action = [weak](std::int64_t tag) {
        if (auto self = weak.lock())
            self->invoke(tag);
    };

    StatusMenuItem statusRow;
    statusRow.enabled = false;
    menu_->items.push_back(statusRow);

    StatusMenuItem updateItem;
    updateItem.title = "Restart to Update";
    updateItem.hasAction = true;
    updateItem.tag = rawValue(ShellCommand::restartToUpdate);
    updateItem.enabled = true;
    updateItem.hidden = true;
    StatusMenuItem hiddenSeparator = separator();
    hiddenSeparator.hidden = true;
    menu_->items.push_back(hiddenSeparator);
    menu_->items.push_back(updateItem);
    menu_->items.push_back(hiddenSeparator);

    for (const auto& [command, title] : commandItems) {
        StatusMenuItem item;
        item.title = std::string(title);
        item.hasAction = true;
        item.tag = rawValue(command);
        item.enabled = true;
        menu_->items.push_back(item);
        if (endsGroup(command))
            menu_->items.push_back(separator());
    }
}

void MenuBarController::apply(const RecorderSnapshot& snapshot) {
    if (snapshot_ && snapshot.seq < snapshot_->seq)
        return;
    snapshot_ = snapshot;
    receivedAt_ = MainLoop::shared().now();
    refresh();
}

void MenuBarController::refresh() {
    std::uint64_t age = std::numeric_limits<std::uint64_t>::max();
    if (receivedAt_) {
        auto elapsed =
            std::chrono::duration<double>(MainLoop::shared().now() - *receivedAt_).count();
        double milliseconds = std::max(0.0, elapsed) * 1000.0;
        // Past the unsigned range the age is simply as old as can be.
        age = milliseconds >= 18446744073709551616.0 ? std::numeric_limits<std::uint64_t>::max()
                                                     : static_cast<std::uint64_t>(milliseconds);
    }
    render(StatusPresentation::make(snapshot_, age));
}

void MenuBarController::render(const StatusPresentation& presentation) {
    presentation_ = presentation;
    if (!statusItem_ || !statusItem_->hasButton())
        return;
    StatusButtonContent content;
    content.image = brandedIcon_;
    if (!presentation.badge.empty() && statusBar_->hasSymbolImage(presentation.badge)) {
        content.badgeSymbol = presentation.badge;
    }
    content.toolTip = presentation.accessibilityDescription;
    content.accessibilityLabel = "Quorvel";
    content.accessibilityValue = presentation.accessibilityDescription;
    statusItem_->setButton(content);
    updateMenu(presentation);
}

void MenuBarController::updateMenu(const StatusPresentation& presentation) {
    auto& items = menu_->items;
    items[statusRowIndex].title = presentation.title;
    items[statusRowIndex].subtitle = presentation.subtitle;
    bool hidden = !presentation.pendingUpdate.has_value();
    items[updateSeparatorAboveIndex].hidden = hidden;
    items[updateItemIndex].hidden = hidden;
    items[updateSeparatorBelowIndex].hidden = hidden;
    if (presentation.pendingUpdate)
        items[updateItemIndex].badge = presentation.pendingUpdate;
    statusItem_->menuDidChange();
}

bool MenuBarController::isPresent() const {
    return !removed_ && statusItem_ && statusItem_->hasButton() && statusItem_->menu() == menu_ &&
           brandedIcon_ && brandedIcon_->isTemplate && brandedIcon_->representations.size() == 3;
}

bool MenuBarController::isRequestedVisible() const {
    return isPresent() && statusItem_->isVisible();
}

std::optional<ScreenRect> MenuBarController::statusItemFrame() const {
    if (!isRequestedVisible())
        return std::nullopt;
    auto frame = statusItem_->buttonScreenFrame();
    if (!frame)
        return std::nullopt;
    return onScreenStatusItemFrame(*frame, statusBar_->screenFrames());
}

void MenuBarController::remove() {
    removed_ = true;
    cancelAcknowledgement();
    if (freshnessTimer_)
        freshnessTimer_->invalidate();
    freshnessTimer_.reset();
    visibilityObservation_.reset();
    if (statusItem_)
        statusItem_->removeFromStatusBar();
}

void MenuBarController::cancelAcknowledgement() {
    if (acknowledgement_)
        acknowledgement_->cancel();
}

std::shared_ptr<StatusAcknowledgement> MenuBarController::acknowledgement() {
    if (!acknowledgement_) {
        std::weak_ptr<MenuBarController> weak = weak_from_this();
        acknowledgement_ = StatusAcknowledgement::create(
            [weak] {
                auto self = weak.lock();
                return self && self->isRequestedVisible();
            },
            [weak] {
                auto self = weak.lock();
                return self && self->statusBar_->reducedMotion();
            },
            [weak](double opacity) {
                auto self = weak.lock();
                if (self && self->statusItem_ && self->statusItem_->hasButton())
                    self->statusItem_->setOpacity(opacity);
            });
    }
    return acknowledgement_;
}

void MenuBarController::invoke(std::int64_t tag) {
    if (auto command = shellCommandFromTag(tag))
        sendCommand(*command);
}

void MenuBarController::sendCommand(ShellCommand command) {
    if (send_)
        send_(command);
}

std::optional<ScreenRect> onScreenStatusItemFrame(const ScreenRect& frame,
                                                  const std::vector<ScreenRect>& screens) {
    if (!(frame.width > 0) || !(frame.height > 0))
        return std::nullopt;
    for (const auto& screen : screens) {
        bool meets = frame.x < screen.x + screen.width && screen.x < frame.x + frame.width &&
                     frame.y < screen.y + screen.height && screen.y < frame.y + frame.height;
        if (meets)
            return frame;
    }
    return std::nullopt;
}

} // namespace quorvel
