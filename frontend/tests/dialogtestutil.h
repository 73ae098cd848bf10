// Helpers shared by the dialog's tests: an engine that records every call made through the
// dialog's table of entry points, a driver that answers modal message boxes and menus as an
// operator would (so that no box can hang a headless run), and lookups of controls by id.
#ifndef ZEBWIN_DIALOGTESTUTIL_H
#define ZEBWIN_DIALOGTESTUTIL_H

#include "controldialog.h"
#include "engineapi.h"
#include "qtwindow.h"

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <functional>
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
        for (const std::string& call : calls) {
            if (call.compare(0, name.size(), name) == 0) {
                found.push_back(call);
            }
        }
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

template <typename T = QWidget> T* Control(const QWidget& dialog, int id) {
    return qobject_cast<T*>(FindControl(&dialog, id));
}

} // namespace zebwintest

#endif
