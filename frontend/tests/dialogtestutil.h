// Helpers shared by the dialog's tests: an engine that records every call made through the
// dialog's table of entry points, a driver that answers modal message boxes and menus as an
// operator would (so that no box can hang a headless run), and the
// bench that puts one dialog on screen with the recording engine behind it.
#ifndef ZEBWIN_DIALOGTESTUTIL_H
#define ZEBWIN_DIALOGTESTUTIL_H

#include "controldialog.h"
#include "engineapi.h"
#include "files.h"
#include "qtwindow.h"

#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <algorithm>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

namespace zebwintest {

// Records each engine call as text, e.g. "SQL_Test(M:\ANYNAME.TST,1024,2048,8,7,10)".
class FakeEngine {
  public:
    FakeEngine() { current = this; }
    ~FakeEngine() { current = nullptr; }
    FakeEngine(const FakeEngine&) = delete;
    FakeEngine& operator=(const FakeEngine&) = delete;

    EngineApi Api() const {
        return {PassSaveResult, PassDynaResult, GetHWND,   GetMsgBuffer,
                GetRetCode,     SQL_Test,       SSendMain, SRecvMain};
    }

    // The calls named name, in order.
    std::vector<std::string> CallsOf(const std::string& name) const {
        std::vector<std::string> found;
        std::copy_if(calls.begin(), calls.end(), std::back_inserter(found),
                     [&](const std::string& call) { return call.starts_with(name); });
        return found;
    }

    std::vector<std::string> calls;
    ZebWindow* window = nullptr;
    int retCode = ZEB_RESULT_PASSED;
    std::string summary;
    // Run inside the test entry points; their results are the entry points' results.
    std::function<int(unsigned size)> onSqlTest;
    std::function<unsigned short()> onSend;
    std::function<void()> onRecv;

  private:
    static inline FakeEngine* current = nullptr;

    static void Record(std::string call) { current->calls.push_back(std::move(call)); }
    static int PassSaveResult(int flag) {
        Record("PassSaveResult(" + std::to_string(flag) + ")");
        return flag;
    }
    static int PassDynaResult(int flag) {
        Record("PassDynaResult(" + std::to_string(flag) + ")");
        return flag;
    }
    static ZebWindow* GetHWND(ZebWindow* dialog) {
        Record("GetHWND");
        current->window = dialog;
        return dialog;
    }
    static char* GetMsgBuffer() {
        Record("GetMsgBuffer");
        return current->summary.data();
    }
    static int GetRetCode() {
        Record("GetRetCode");
        return current->retCode;
    }
    static int SQL_Test(const char* path, unsigned buffer, unsigned upper, unsigned increment,
                        int mode, unsigned iterations) {
        Record("SQL_Test(" + std::string(path) + "," + std::to_string(buffer) + "," +
               std::to_string(upper) + "," + std::to_string(increment) + "," +
               std::to_string(mode) + "," + std::to_string(iterations) + ")");
        return current->onSqlTest ? current->onSqlTest(buffer) : 0;
    }
    static unsigned short SSendMain(int blocks, unsigned size) {
        Record("SSendMain(" + std::to_string(blocks) + "," + std::to_string(size) + ")");
        return current->onSend ? current->onSend() : 1;
    }
    static int SRecvMain() {
        Record("SRecvMain");
        if (current->onRecv) {
            current->onRecv();
        }
        return 0;
    }
};

// A message box as the operator saw it.
struct SeenBox {
    QString title;
    QString text;
    QMessageBox::Icon icon;
    bool ownerless;
    bool applicationModal;
};

// Answers every message box with a click on OK and records it; hands any other modal window
// or popup menu to onOther, which must close it.
class ModalDriver : public QObject {
  public:
    ModalDriver() {
        connect(&m_timer, &QTimer::timeout, this, [this] { Poll(); });
        m_timer.start(5);
    }

    std::vector<SeenBox> boxes;
    std::function<void(QWidget*)> onOther;

  private:
    void Poll() {
        if (QWidget* popup = QApplication::activePopupWidget()) {
            Hand(popup);
            return;
        }
        for (QWidget* widget : QApplication::topLevelWidgets()) {
            if (!widget->isVisible()) {
                continue;
            }
            if (auto* box = qobject_cast<QMessageBox*>(widget)) {
                boxes.push_back({box->windowTitle(), box->text(), box->icon(),
                                 box->parentWidget() == nullptr,
                                 box->windowModality() == Qt::ApplicationModal});
                // A real click, through the application's event filters.
                QTest::mouseClick(box->button(QMessageBox::Ok), Qt::LeftButton);
                return;
            }
        }
        if (QWidget* modal = QApplication::activeModalWidget()) {
            if (!qobject_cast<ControlDialog*>(modal)) {
                Hand(modal);
            }
        }
    }
    void Hand(QWidget* widget) {
        if (onOther) {
            onOther(widget);
        } else {
            widget->close();
        }
    }

    QTimer m_timer;
};

// report.txt as the engine wrote it in a scratch directory that is the current directory.
inline QString ReadReport(const zebtest::Scratch& scratch) {
    return QString::fromLatin1(
        QByteArray::fromStdString(zebtest::ReadFile(scratch.Path("report.txt"))));
}

// One control dialog on screen with a recording engine behind it, as each dialog test needs.
struct DialogBench {
    // The dialog bound to the recording engine, or to the entry points given.
    explicit DialogBench(fields::Keyword keyword = fields::Keyword::None,
                         const EngineApi* bound = nullptr)
        : api(bound != nullptr ? *bound : engine.Api()), dialog(api, ApplyLook(keyword)) {
        dialog.show();
        exposed = QTest::qWaitForWindowExposed(&dialog);
    }

    QLineEdit* Edit(int id) const { return qobject_cast<QLineEdit*>(FindControl(&dialog, id)); }
    QAbstractButton* Button(int id) const {
        return qobject_cast<QAbstractButton*>(FindControl(&dialog, id));
    }
    QComboBox* Mode() const { return qobject_cast<QComboBox*>(FindControl(&dialog, kIdIoMode)); }
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
