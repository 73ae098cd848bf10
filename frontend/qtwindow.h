// The engine's window services over Qt: the control dialog and its controls as the engine
// sees them (ZebWindow), found by their numeric control identifiers.
#ifndef ZEBWIN_QTWINDOW_H
#define ZEBWIN_QTWINDOW_H

#include "zebdll.h"

#include <QMessageBox>
#include <QPointer>
#include <QString>
#include <QWidget>

#include <map>
#include <memory>

class InputBlocker;

class QtWindow final : public ZebWindow {
  public:
    explicit QtWindow(QWidget* widget);
    ~QtWindow();
    QtWindow(const QtWindow&) = delete;
    QtWindow& operator=(const QtWindow&) = delete;

    ZebWindow* ChildWindow(int id) override;
    void SetText(const char* text) override;
    // A disabled window keeps painting and keeps its content, but every mouse, key, wheel,
    // context-menu and close event aimed at it or at anything inside it is discarded.
    void EnableInput(bool enable) override;
    void DispatchPendingEvents() override;
    void ShowMessageBox(const char* caption, const char* text) override;

    bool InputEnabled() const { return !m_blocker; }

  private:
    QPointer<QWidget> m_widget;
    std::map<int, std::unique_ptr<QtWindow>> m_children;
    std::unique_ptr<InputBlocker> m_blocker;
};

// Gives a control its identifier; FindControl looks it up among a window's descendants.
void SetControlId(QWidget* control, int id);
QWidget* FindControl(const QWidget* window, int id);

// Texts are bytes: decoded as UTF-8 where that is valid, else as Latin-1.
QString DecodeText(const char* text);

// A message box with no owner window, application-modal, with one OK button; returns when
// it is dismissed.
void ShowOwnerlessBox(const QString& caption, const QString& text, QMessageBox::Icon icon);

#endif
