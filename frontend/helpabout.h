// The Help button's viewer and the About box.
#ifndef ZEBWIN_HELPABOUT_H
#define ZEBWIN_HELPABOUT_H

#include <QDialog>
#include <QString>
#include <QStringList>

#include <optional>

// A program to start detached, with its arguments.
struct HelpLaunch {
    QString program;
    QStringList arguments;
};

// The HTML help page for a program in programDir: beside it in the build tree, or under
// share/zebwin of an installed tree. Empty when there is none.
QString FindHelpPage(const QString& programDir);

// What Help starts: the help viewer with "zebwin.hlp" when winhelpPath (the viewer found on
// PATH) is not empty; otherwise the desktop's viewer with the HTML help page; nothing when
// there is neither.
std::optional<HelpLaunch> ChooseHelp(const QString& winhelpPath, const QString& helpPage);

// Starts the help viewer without waiting; nothing is reported when it does not start.
void StartHelp();

// "About ZEB Lan Stress Tool": the program icon, the version line and OK.
class AboutDialog : public QDialog {
    Q_OBJECT
  public:
    explicit AboutDialog(QWidget* parent = nullptr);
};

#endif
