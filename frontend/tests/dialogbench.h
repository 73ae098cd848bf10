// One control dialog on screen with a recording engine behind it, as each dialog test needs.
#ifndef ZEBWIN_DIALOGBENCH_H
#define ZEBWIN_DIALOGBENCH_H

#include "dialogtestutil.h"
#include "files.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QLineEdit>

namespace zebwintest {

// report.txt as the engine wrote it in a scratch directory that is the current directory.
inline QString ReadReport(const zebtest::Scratch& scratch) {
    return QString::fromLatin1(
        QByteArray::fromStdString(zebtest::ReadFile(scratch.Path("report.txt"))));
}

struct DialogBench {
    // The dialog bound to the recording engine, or to the entry points given.
    explicit DialogBench(fields::Keyword keyword = fields::Keyword::None,
                         const EngineApi* bound = nullptr)
        : api(bound != nullptr ? *bound : engine.Api()), dialog(api, ApplyLook(keyword)) {
        dialog.show();
        exposed = QTest::qWaitForWindowExposed(&dialog);
    }

    QLineEdit* Edit(int id) const { return Control<QLineEdit>(dialog, id); }
    QAbstractButton* Button(int id) const { return Control<QAbstractButton>(dialog, id); }
    QComboBox* Mode() const { return Control<QComboBox>(dialog, kIdIoMode); }
    QString Board() const { return Edit(kIdBoard)->text(); }
    bool Enabled(int id) const { return FindControl(&dialog, id)->isEnabled(); }
    void Type(int id, const QString& text) const { Edit(id)->setText(text); }

    // A mouse click on a button's label, as the operator makes it (a disabled button ignores
    // it). Radio buttons and check boxes only take clicks on their mark and label.
    void Click(int id) const {
        QAbstractButton* button = Button(id);
        QTest::mouseClick(button, Qt::LeftButton, {}, QPoint(8, button->height() / 2));
    }
    void Start() const { Click(kIdStart); }

    // Forgets the calls made so far (the initialisation's PassDynaResult).
    void ClearCalls() { engine.calls.clear(); }

    // The program's look is set before its dialog is made.
    static fields::Keyword ApplyLook(fields::Keyword keyword) {
        ApplyDialogLook(*qobject_cast<QApplication*>(QCoreApplication::instance()));
        return keyword;
    }

    FakeEngine engine;
    EngineApi api;
    ModalDriver driver;
    ControlDialog dialog;
    bool exposed = false;
};

} // namespace zebwintest

#endif
