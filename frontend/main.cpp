// zebwin: the control dialog of the ZEB LAN stress kit. Its exit status is the engine's
// result code when a test was started, else 0.
#include "controldialog.h"
#include "engineapi.h"
#include "fields.h"

#include <QApplication>

#include <cerrno>
#include <clocale>
#include <fcntl.h>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

// A closed standard descriptor would be handed to the next file opened, and the test file
// would then receive what the engine prints on standard output.
void ReopenClosedStandardDescriptors() {
    for (int fd = 0; fd <= 2; ++fd) {
        if (fcntl(fd, F_GETFD) == -1 && errno == EBADF) {
            const int opened = open("/dev/null", O_RDWR);
            if (opened != fd && opened >= 0) {
                close(opened);
            }
        }
    }
}

} // namespace

int main(int argc, char** argv) {
    ReopenClosedStandardDescriptors();
    QApplication app(argc, argv);
    // Numbers are formatted with a full stop under any user locale.
    std::setlocale(LC_NUMERIC, "C");
    ApplyDialogLook(app);

    // QApplication has taken its own arguments out of argv; the rest is the keyword.
    const std::vector<std::string> arguments(argv + (argc > 0 ? 1 : 0), argv + argc);
    const EngineApi& engine = LinkedEngine();
    ControlDialog dialog(engine, fields::KeywordFromArguments(arguments));
    dialog.exec();
    return dialog.ExitStatus();
}
