#pragma once

#include "CUserNotifier.h"

class CVSPLog;

// The notifier of the program without windows: message box texts go to standard error and the program
// log; questions are answered Yes, since the caller of a headless command already decided. Job progress
// has no panel to move; what a job waits for is written to the program log.
class CConsoleNotifier : public CUserNotifier {
public:
    explicit CConsoleNotifier(CVSPLog& programLog);

    void ShowError(const std::string& text) override;
    void ShowWarning(const std::string& text) override;
    void ShowNotice(const std::string& text) override;
    bool AskYesNo(const std::string& text) override;
    void ShowProgressPanel(const std::string& label, int range) override;
    void AdvanceProgress() override;
    void HideProgressPanel() override;
    void ShowMessageDialog(const std::string& text) override;
    void HideMessageDialog() override;

private:
    void Write(const std::string& text);

    CVSPLog& m_programLog;
};
