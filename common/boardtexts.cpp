#include "boardtexts.h"

#include "fields.h"
#include "zebdll.h"

namespace boardtext {

std::string SenderBoardText(int engineResult, const char* summary) {
    if ((engineResult & 0xFFFF) != ZEB_SESSION_RAN) {
        return kSendTimeoutText;
    }
    std::string text = summary == nullptr ? "" : summary;
    text += kSendDoneSuffix;
    return std::string(fields::CutToBytes(text, fields::kBoard.limit - 1));
}

} // namespace boardtext
