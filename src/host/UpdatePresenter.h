// What the launcher window shows for one notification of the update
// callback, computed without a window: the status line, the two progress
// bars with their percentage texts, log lines, the start button's look and
// the message boxes. A pure function; the window applies its result on its
// own thread, in the order given below.
#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "base/UpdateTypes.h"
#include "platform/Resource.h"

// Both bars run from 0 to this many pixels.
constexpr int kProgressBarRange = 308;

// Bitmaps of the start button (1024) and the terms check box (1031).
enum : int {
    kStartBitmapEnabled = 134,
    kStartBitmapDisabled = 156,
    kTermsBitmapOn = 1009,
    kTermsBitmapOff = 157,
};

// One bar and the percentage text beside it.
struct BarUpdate {
    int position = 0;  // 0..kProgressBarRange
    std::string text;  // "0%".."100%"
};

// Steps that interrupt the user or end the launcher, carried out in order;
// a message box is dismissed before the next step begins.
enum class PresenterAction {
    ShowError,      // error box with text, caption "Update Program"
    ShowNotice,     // plain OK box with text, caption "Update Program"
    OpenHomePage,   // as the home-page button does
    StartShutdown,  // the shutdown timer (CShutdownHandshake::StartAfterFailure)
    // Close as the close button does; once the window is gone the
    // launcher becomes the new one (CUpdateModule::ExecuteLauncherHandOver).
    CloseForHandOver,
};

struct PresenterStep {
    PresenterAction action;
    std::string text;  // plain text for the boxes, "" otherwise
};

// The effects of one notification. Unset fields leave the window as it is.
// Apply in this order: status, log lines, bars, start button, steps.
struct Presentation {
    std::optional<std::string> status;  // text of the status line 1013
    // Already formatted; log each as SaveUpdateLog("%s\n", line): never
    // use one as a format.
    std::vector<std::string> logLines;
    std::optional<BarUpdate> fileBar;   // bar 1027, text 1022
    std::optional<BarUpdate> totalBar;  // bar 1029, text 1011
    std::optional<int> startBitmap;     // kStartBitmapEnabled when it changes
    std::optional<bool> updateComplete;
    std::vector<PresenterStep> steps;
};

// The dialog state the presentation depends on.
struct PresenterFlags {
    bool termsAgreed = false;
    bool closing = false;  // the user is closing: no failure box
};

// The presentation of notification code with a copy of the progress record;
// texts come from bundle (nullptr = the base table). Codes outside 0-17
// give an empty presentation. Sizes and counts that are zero or negative
// leave their bar as it is; positions never leave 0..kProgressBarRange and
// percentages never exceed 100, whatever the record holds.
Presentation PresentNotification(int32_t code, const UPDATE_CALLBACK_INFO& info,
                                 const PresenterFlags& flags, plat::ResourceHandle bundle);

// "50%" for a bar position (0..kProgressBarRange, clamped).
std::string PercentText(int position);
