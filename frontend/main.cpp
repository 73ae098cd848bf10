// zebwin: the control dialog of the ZEB LAN stress kit. Its exit status is the engine's
// result code when a test was started, else 0.
#include "controldialog.h"
#include "engineapi.h"
#include "fields.h"
#include "standardfds.h"

#include <QApplication>

#include <clocale>
#include <string>
#include <vector>

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
