// The engine's frame: the small exports, the shared static state, the status output and the
// message pump that keeps the dialog painted while a test runs.
#include "status.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "compatlog.h"
#include "observer.h"
#include "zebdll.h"

char MessageBuffer[MESSAGE_BUFFER_SIZE];
char SummaryBuffer[SUMMARY_BUFFER_SIZE];
alignas(PATTERN_BUFFER_ALIGNMENT) unsigned char PatternBuffer[PATTERN_BUFFER_SIZE];

namespace {

int SaveResult = 0;
int DynaResult = 0;
ZebWindow* DialogWindow = nullptr;
ZebWindow* BoardWindow = nullptr;
int RetCode = ZEB_RESULT_PASSED;

// Copies text into a fixed buffer, cutting it to fit; safe when text lies inside dest.
void CopyBounded(char* dest, std::size_t size, const char* text) {
    std::size_t n = std::strlen(text);
    if (n >= size) {
        n = size - 1;
    }
    std::memmove(dest, text, n);
    dest[n] = '\0';
}

void AppendToReport(const char* text) {
    std::FILE* report = std::fopen("report.txt", "a+");
    if (report == nullptr) {
        return; // this record is dropped; the posting goes on
    }
    std::fprintf(report, "%s\n", text);
    std::fclose(report);
}

} // namespace

void FormatMessage(const char* format, ...) {
    va_list args;
    va_start(args, format);
    std::vsnprintf(MessageBuffer, sizeof MessageBuffer, format, args);
    va_end(args);
}

void PostStatus(const char* text, std::uint16_t level) {
    if (level == LEVEL_SUMMARY) {
        CopyBounded(SummaryBuffer, sizeof SummaryBuffer, text);
    }
    if (SaveResult != 0) {
        AppendToReport(text);
    }
    if (level == LEVEL_FAILURE || level == LEVEL_DATA_FAILURE) {
        RetCode = ZEB_RESULT_FAILED;
        CompatLogPrintf("%s\n", text);
        ObserveFailure(text);
    }
    if (DynaResult != 0 && BoardWindow != nullptr) {
        BoardWindow->SetText(text);
    }
    PumpMessages();
}

void PumpMessages() {
    if (DialogWindow == nullptr) {
        return;
    }
    DialogWindow->EnableInput(false);
    DialogWindow->DispatchPendingEvents();
    DialogWindow->EnableInput(true);
}

void ShowMessageBox(const char* caption, const char* text) {
    if (DialogWindow != nullptr) {
        DialogWindow->ShowMessageBox(caption, text);
        return;
    }
    std::fprintf(stderr, "%s: %s\n", caption, text);
    std::fflush(stderr);
}

extern "C" {

int PassSaveResult(int flag) {
    SaveResult = flag;
    return flag;
}

int PassDynaResult(int flag) {
    DynaResult = flag;
    return flag;
}

ZebWindow* GetHWND(ZebWindow* dialog) {
    BoardWindow = dialog != nullptr ? dialog->ChildWindow(ZEB_BOARD_ID) : nullptr;
    DialogWindow = dialog;
    return dialog;
}

char* GetMsgBuffer(void) {
    return SummaryBuffer;
}

int GetRetCode(void) {
    return RetCode;
}

} // extern "C"
