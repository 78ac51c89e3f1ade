#pragma once

#include "base/InternetDateTime.h"
#include "base/MainLoop.h"
#include "platform/Observation.h"
#include "shell/RecorderSnapshot.h"
#include "shell/ShellCommand.h"
#include "shell/StatusAcknowledgement.h"
#include "shell/StatusBar.h"
#include "shell/StatusPresentation.h"

#include <functional>
#include <memory>
#include <optional>

namespace quorvel {

// Owns the recorder's status item: the branded icon with its state symbol, the menu whose first
// row says the state in words, the one-second refresh that turns a silent recorder into "Status
// unknown", menu choices as commands, and the acknowledgement cue. Main thread only.
class MenuBarController : public std::enable_shared_from_this<MenuBarController> {
public:
    using CommandSink = std::function<void(ShellCommand)>;

    static constexpr double refreshInterval = 1.0;

    // Rows of the menu, top to bottom.
    enum Row : std::size_t {
        statusRowIndex = 0,
        updateSeparatorAboveIndex = 1,
        updateItemIndex = 2,
        updateSeparatorBelowIndex = 3,
    };

    // Nothing when the icon cannot be built or the status item has no button. Sends
    // statusUnavailable before returning when the new item cannot be seen.
    static std::shared_ptr<MenuBarController> create(std::shared_ptr<StatusBar> statusBar,
                                                     CommandSink send);
    ~MenuBarController();

    void apply(const RecorderSnapshot& snapshot);
    void refresh();
    bool isPresent() const;
    bool isRequestedVisible() const;
    std::optional<ScreenRect> statusItemFrame() const;
    void remove();
    void cancelAcknowledgement();
    std::shared_ptr<StatusAcknowledgement> acknowledgement();
    // The action of every menu row.
    void invoke(std::int64_t tag);

    const std::optional<RecorderSnapshot>& snapshot() const { return snapshot_; }
    const StatusPresentation& presentation() const { return presentation_; }
    const StatusMenu& menu() const { return *menu_; }
    bool isRemoved() const { return removed_; }

private:
    MenuBarController(std::shared_ptr<StatusBar> statusBar, CommandSink send);
    bool setUp();
    void buildMenu();
    void render(const StatusPresentation& presentation);
    void updateMenu(const StatusPresentation& presentation);
    void sendCommand(ShellCommand command);

    std::shared_ptr<StatusBar> statusBar_;
    std::shared_ptr<StatusItem> statusItem_;
    std::shared_ptr<const StatusImage> brandedIcon_;
    CommandSink send_;
    std::optional<RecorderSnapshot> snapshot_;
    std::optional<TimePoint> receivedAt_;
    TimerHandle freshnessTimer_;
    ObservationHandle visibilityObservation_;
    bool removed_ = false;
    std::shared_ptr<StatusAcknowledgement> acknowledgement_;
    std::shared_ptr<StatusMenu> menu_;
    StatusPresentation presentation_;
};

// The frame, when it has area and meets at least one screen.
std::optional<ScreenRect> onScreenStatusItemFrame(const ScreenRect& frame,
                                                  const std::vector<ScreenRect>& screens);

} // namespace quorvel
