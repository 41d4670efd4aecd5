#pragma once

#include <string>

// Everything of the engine a user would see: message boxes, the progress panel and the message dialog of
// running jobs. The engine calls it on the GUI thread only. A window shows boxes; the headless program
// writes the texts out.
class CUserNotifier {
public:
    virtual ~CUserNotifier() = default;

    virtual void ShowError(const std::string& text) = 0;
    virtual void ShowWarning(const std::string& text) = 0;
    virtual void ShowNotice(const std::string& text) = 0;
    // A Yes/No question; true for Yes.
    virtual bool AskYesNo(const std::string& text) = 0;

    // The progress panel under the setup pages: a label and a bar over `range` steps.
    virtual void ShowProgressPanel(const std::string& label, int range) = 0;
    virtual void AdvanceProgress() = 0;
    virtual void HideProgressPanel() = 0;
    // The message dialog that tells what a job waits for.
    virtual void ShowMessageDialog(const std::string& text) = 0;
    virtual void HideMessageDialog() = 0;
};
