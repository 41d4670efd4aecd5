#include "CConsoleNotifier.h"

#include "CVSPLog.h"

#include <cstdio>

CConsoleNotifier::CConsoleNotifier(CVSPLog& programLog) : m_programLog(programLog) {}

void CConsoleNotifier::Write(const std::string& text) {
    std::fprintf(stderr, "%s\n", text.c_str());
    m_programLog.WriteSystemText("%s\r\n", text.c_str());
}

void CConsoleNotifier::ShowError(const std::string& text) {
    Write(text);
}

void CConsoleNotifier::ShowWarning(const std::string& text) {
    Write(text);
}

void CConsoleNotifier::ShowNotice(const std::string& text) {
    Write(text);
}

bool CConsoleNotifier::AskYesNo(const std::string& text) {
    m_programLog.WriteSystemText("%s\r\n", text.c_str());
    return true;
}

void CConsoleNotifier::ShowProgressPanel(const std::string&, int) {}

void CConsoleNotifier::AdvanceProgress() {}

void CConsoleNotifier::HideProgressPanel() {}

void CConsoleNotifier::ShowMessageDialog(const std::string& text) {
    m_programLog.WriteSystemText("%s\r\n", text.c_str());
}

void CConsoleNotifier::HideMessageDialog() {}
