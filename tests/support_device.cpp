// The box recorder, installed through the device layer's dialogs seam.
#include "support.h"

#include "dialogs.h"

namespace {
BoxRecorder* recorder = nullptr;
Dialogs installedBefore;

void record(const std::string& what)
{
    recorder->shown.push_back(what);
    if (recorder->onShow)
        recorder->onShow();
}

void recordError(const char* text) { record(std::string("error:") + text); }
void recordMessage(const char* text) { record(std::string("message:") + text); }
int answer(const std::string& what)
{
    record(what);
    if (recorder->answers.empty()) {
        ADD_FAILURE() << "question nobody meant to ask: " << what;
        return 0;
    }
    const int answer = recorder->answers.front();
    recorder->answers.pop_front();
    return answer;
}
int recordQuestion(const char* text) { return answer(std::string("ask:") + text); }
int recordChoice(const char* text) { return answer(std::string("choose:") + text); }
void recordBeep() { record("beep"); }
}  // namespace

BoxRecorder::BoxRecorder()
{
    recorder = this;
    installedBefore = dialogs;
    dialogs = {recordError, recordMessage, recordQuestion, recordBeep, recordChoice};
}

BoxRecorder::~BoxRecorder()
{
    EXPECT_TRUE(answers.empty()) << "a scripted answer was never asked for";
    dialogs = installedBefore;
    recorder = nullptr;
}
