#include "helpabout.h"

#include <QCoreApplication>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QProcess>
#include <QStandardPaths>
#include <QVBoxLayout>

namespace {
constexpr const char* kHelpPageName = "zebwin-help.html";
}

QString FindHelpPage(const QString& programDir) {
    const QDir dir(programDir);
    const QString candidates[] = {
        dir.filePath(QString::fromLatin1(kHelpPageName)),
        dir.filePath(QStringLiteral("../share/zebwin/") + QString::fromLatin1(kHelpPageName)),
    };
    for (const QString& candidate : candidates) {
        if (QFileInfo(candidate).isFile()) {
            return QDir::cleanPath(QFileInfo(candidate).absoluteFilePath());
        }
    }
    return {};
}

std::optional<HelpLaunch> ChooseHelp(const QString& winhelpPath, const QString& helpPage) {
    if (!winhelpPath.isEmpty()) {
        return HelpLaunch{winhelpPath, {QStringLiteral("zebwin.hlp")}};
    }
    if (!helpPage.isEmpty()) {
        return HelpLaunch{QStringLiteral("xdg-open"), {helpPage}};
    }
    return std::nullopt;
}

void StartHelp() {
    const auto launch = ChooseHelp(QStandardPaths::findExecutable(QStringLiteral("winhelp.exe")),
                                   FindHelpPage(QCoreApplication::applicationDirPath()));
    if (launch) {
        QProcess::startDetached(launch->program, launch->arguments);
    }
}

AboutDialog::AboutDialog(QWidget* parent) : QDialog(parent) {
    setWindowTitle(QStringLiteral("About ZEB Lan Stress Tool"));
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowCloseButtonHint);

    auto* icon = new QLabel(this);
    icon->setPixmap(QGuiApplication::windowIcon().pixmap(32, 32));
    auto* version = new QLabel(QStringLiteral("ZEB Lan Stress Tool Version 1.0"), this);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);

    auto* row = new QHBoxLayout;
    row->addWidget(icon);
    row->addSpacing(12);
    row->addWidget(version, 1);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(row);
    layout->addWidget(buttons);
    layout->setSizeConstraint(QLayout::SetFixedSize);
}
