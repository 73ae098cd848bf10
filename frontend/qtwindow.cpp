#include "qtwindow.h"

#include <QAbstractButton>
#include <QApplication>
#include <QEvent>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStringDecoder>
#include <QWindow>

#include <algorithm>

namespace {

constexpr const char* kControlIdProperty = "zebControlId";

// Whether object is window itself or lies inside it, popups of its controls included. A
// top-level window of the platform counts as its widget: a mouse press reaches a control only
// through it, and gives the control the focus before any filter sees the press itself.
bool IsInside(const QObject* object, const QWidget* window) {
    if (object && object->isWindowType()) {
        const QWidgetList tops = QApplication::topLevelWidgets();
        const auto top = std::find_if(tops.begin(), tops.end(), [object](const QWidget* w) {
            return w->windowHandle() == object;
        });
        return top != tops.end() && IsInside(*top, window);
    }
    if (!object || !object->isWidgetType()) {
        return false;
    }
    for (const QWidget* w = static_cast<const QWidget*>(object); w; w = w->parentWidget()) {
        if (w == window) {
            return true;
        }
    }
    return false;
}

bool IsInputEvent(QEvent::Type type) {
    switch (type) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
    case QEvent::MouseButtonDblClick:
    case QEvent::MouseMove:
    case QEvent::Wheel:
    case QEvent::KeyPress:
    case QEvent::KeyRelease:
    case QEvent::ShortcutOverride:
    case QEvent::Shortcut:
    case QEvent::ContextMenu:
    case QEvent::Close:
    case QEvent::TouchBegin:
    case QEvent::TouchUpdate:
    case QEvent::TouchEnd:
    case QEvent::TabletPress:
    case QEvent::TabletRelease:
    case QEvent::TabletMove:
    case QEvent::InputMethod:
        return true;
    default:
        return false;
    }
}

// The dialog's default button: the one Enter presses.
QPushButton* DefaultButton(const QWidget* window) {
    const auto buttons = window->findChildren<QPushButton*>();
    const auto found = std::find_if(buttons.begin(), buttons.end(),
                                    [](const QPushButton* button) { return button->isDefault(); });
    return found != buttons.end() ? *found : nullptr;
}

} // namespace

// Discards input aimed at one window for as long as it exists. Not setEnabled(false), which
// would grey every control at every message and drop the focus, and not deferring input,
// which would replay a click on Start after the test. Nothing the discarded input would have
// changed may change: the focus and the default button are put back as they were when input
// was held off (a press delivered straight to a control moves the focus before any filter
// sees it, and a push button that takes the focus becomes the default).
class InputBlocker : public QObject {
  public:
    explicit InputBlocker(QWidget* window)
        : m_window(window), m_focus(window->focusWidget()), m_default(DefaultButton(window)) {
        qApp->installEventFilter(this);
    }
    ~InputBlocker() override {
        qApp->removeEventFilter(this);
        if (!m_window) {
            return;
        }
        if (m_focus && m_window->focusWidget() != m_focus) {
            m_focus->setFocus(Qt::OtherFocusReason);
        }
        if (m_default && !m_default->isDefault()) {
            m_default->setDefault(true);
        }
    }

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (!IsInputEvent(event->type()) || !IsInside(watched, m_window)) {
            return false;
        }
        // A close event arrives accepted: eaten but left so, it would still close the window.
        event->ignore();
        return true;
    }

  private:
    QPointer<QWidget> m_window;
    QPointer<QWidget> m_focus;
    QPointer<QPushButton> m_default;
};

QtWindow::QtWindow(QWidget* widget) : m_widget(widget) {}

QtWindow::~QtWindow() = default;

ZebWindow* QtWindow::ChildWindow(int id) {
    QWidget* control = m_widget ? FindControl(m_widget, id) : nullptr;
    if (!control) {
        return nullptr;
    }
    auto& child = m_children[id];
    if (!child || child->m_widget != control) {
        child = std::make_unique<QtWindow>(control);
    }
    return child.get();
}

void QtWindow::SetText(const char* text) {
    if (!m_widget || !text) {
        return;
    }
    const QString decoded = DecodeText(text);
    if (auto* edit = qobject_cast<QLineEdit*>(m_widget)) {
        edit->setText(decoded);
        // Show the beginning of a long text, as a one-line board should.
        edit->setCursorPosition(0);
    } else if (auto* button = qobject_cast<QAbstractButton*>(m_widget)) {
        button->setText(decoded);
    } else if (auto* label = qobject_cast<QLabel*>(m_widget)) {
        label->setText(decoded);
    } else if (auto* group = qobject_cast<QGroupBox*>(m_widget)) {
        group->setTitle(decoded);
    } else {
        m_widget->setWindowTitle(decoded);
    }
}

void QtWindow::EnableInput(bool enable) {
    if (enable) {
        m_blocker.reset();
    } else if (!m_blocker && m_widget) {
        m_blocker = std::make_unique<InputBlocker>(m_widget);
    }
}

void QtWindow::DispatchPendingEvents() {
    // Without WaitForMoreEvents this returns as soon as nothing is pending.
    QCoreApplication::processEvents(QEventLoop::AllEvents);
}

void QtWindow::ShowMessageBox(const char* caption, const char* text) {
    ShowOwnerlessBox(DecodeText(caption ? caption : ""), DecodeText(text ? text : ""),
                     QMessageBox::NoIcon);
}

void SetControlId(QWidget* control, int id) {
    control->setProperty(kControlIdProperty, id);
}

QWidget* FindControl(const QWidget* window, int id) {
    const auto controls = window->findChildren<QWidget*>();
    for (QWidget* control : controls) {
        bool ok = false;
        if (control->property(kControlIdProperty).toInt(&ok) == id && ok) {
            return control;
        }
    }
    return nullptr;
}

QString DecodeText(const char* text) {
    const QByteArray bytes(text);
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString decoded = decoder.decode(bytes);
    if (!decoder.hasError()) {
        return decoded;
    }
    return QString::fromLatin1(bytes);
}

void ShowOwnerlessBox(const QString& caption, const QString& text, QMessageBox::Icon icon) {
    QMessageBox box(icon, caption, text, QMessageBox::Ok);
    box.setWindowModality(Qt::ApplicationModal);
    box.exec();
}
