#include "controldialog.h"

#include "boardtexts.h"
#include "helpabout.h"
#include "sweep.h"

#include <QApplication>
#include <QButtonGroup>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QFileInfo>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QStyleFactory>
#include <QVBoxLayout>

#include <type_traits>
#include <vector>

namespace {

using fields::StoreOutcome;

constexpr const char* kDataEntryCaption = "Data Entry Error";
constexpr const char* kDataEntryText =
    "The buffer size is limited to 2 to 64KB. Select proper sizes and press Start again.";

std::string Bytes(const QString& text) {
    return text.toUtf8().toStdString();
}

// The validation boxes are titled with the program file's name, without directory or
// extension.
QString ProgramName() {
    return QFileInfo(QCoreApplication::applicationFilePath()).completeBaseName();
}

// The spacing of the dialog's groups: close enough to keep the dialog near 76 by 24
// character cells of its font, with every label whole.
void Compact(QLayout* layout, int margin) {
    layout->setContentsMargins(margin, margin, margin, margin);
    layout->setSpacing(4);
}

QLineEdit* NumberEdit(QWidget* parent, int chars) {
    auto* edit = new QLineEdit(parent);
    edit->setFixedWidth(edit->fontMetrics().averageCharWidth() * chars + 10);
    return edit;
}

} // namespace

// The application object must exist, but Qt sets its look through static calls.
void ApplyDialogLook(QApplication& /*app*/) {
    QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
    const QColor grey(192, 192, 192);
    QPalette palette;
    palette.setColor(QPalette::Window, grey);
    palette.setColor(QPalette::Button, grey);
    palette.setColor(QPalette::WindowText, Qt::black);
    palette.setColor(QPalette::ButtonText, Qt::black);
    palette.setColor(QPalette::Text, Qt::black);
    palette.setColor(QPalette::Base, Qt::white);
    palette.setColor(QPalette::AlternateBase, QColor(224, 224, 224));
    palette.setColor(QPalette::ToolTipBase, QColor(255, 255, 225));
    palette.setColor(QPalette::ToolTipText, Qt::black);
    palette.setColor(QPalette::Highlight, QColor(0, 0, 128));
    palette.setColor(QPalette::HighlightedText, Qt::white);
    palette.setColor(QPalette::Light, Qt::white);
    palette.setColor(QPalette::Midlight, QColor(223, 223, 223));
    palette.setColor(QPalette::Mid, QColor(160, 160, 160));
    palette.setColor(QPalette::Dark, QColor(128, 128, 128));
    palette.setColor(QPalette::Shadow, Qt::black);
    palette.setColor(QPalette::Disabled, QPalette::WindowText, QColor(128, 128, 128));
    palette.setColor(QPalette::Disabled, QPalette::ButtonText, QColor(128, 128, 128));
    palette.setColor(QPalette::Disabled, QPalette::Text, QColor(128, 128, 128));
    palette.setColor(QPalette::Disabled, QPalette::Base, grey);
    QApplication::setPalette(palette);

    QFont font(QStringLiteral("Sans Serif"));
    font.setStyleHint(QFont::SansSerif);
    font.setPointSize(8);
    QApplication::setFont(font);

    QApplication::setWindowIcon(QIcon(QStringLiteral(":/zebwin/zebwin.png")));
    QGuiApplication::setDesktopFileName(QStringLiteral("zebwin"));
}

ControlDialog::ControlDialog(const EngineApi& engine, fields::Keyword keyword, QWidget* parent)
    : QDialog(parent), m_engine(engine), m_window(this) {
    setWindowTitle(QStringLiteral("Lan NetBios and File I/O Stress Tools"));
    // A plain top-level window: window managers often drop the minimise button of dialogs.
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);
    BuildControls();

    ShowFields();
    adjustSize();
    if (const QScreen* screen = this->screen()) {
        QRect frame = rect();
        frame.moveCenter(screen->availableGeometry().center());
        move(frame.topLeft());
    }

    for (QWidget* control : {static_cast<QWidget*>(m_bufferSize), static_cast<QWidget*>(m_blocks),
                             static_cast<QWidget*>(m_sender), static_cast<QWidget*>(m_receiver),
                             static_cast<QWidget*>(m_start)}) {
        control->setEnabled(false);
    }

    m_showData->setChecked(true);
    OnShowData();

    if (keyword == fields::Keyword::FileIo) {
        m_fileIoStress->setChecked(true);
        m_netbiosStress->setEnabled(false);
        OnFileIoStress();
    } else {
        m_netbiosStress->setChecked(true);
        if (keyword == fields::Keyword::Netbios) {
            m_fileIoStress->setEnabled(false);
        }
        OnNetbiosStress();
    }
    m_testStarted = false;
}

ControlDialog::~ControlDialog() = default;

void ControlDialog::BuildControls() {
    const auto makeRadio = [](QWidget* parent, const char* label, int id) {
        auto* radio = new QRadioButton(QString::fromLatin1(label), parent);
        radio->setAutoExclusive(false);
        SetControlId(radio, id);
        return radio;
    };
    const auto makeLabel = [](QWidget* parent, const char* text, QWidget* buddy) {
        auto* label = new QLabel(QString::fromLatin1(text), parent);
        label->setBuddy(buddy);
        return label;
    };

    auto* worksAs = new QGroupBox(QStringLiteral("Works as..."), this);
    m_netbiosStress = makeRadio(worksAs, "NetBios Stress", kIdNetbiosStress);
    m_fileIoStress = makeRadio(worksAs, "File I/O Stress", kIdFileIoStress);
    auto* worksAsLayout = new QVBoxLayout(worksAs);
    worksAsLayout->addWidget(m_netbiosStress);
    worksAsLayout->addWidget(m_fileIoStress);

    m_showData = new QCheckBox(QStringLiteral("Show Data?"), this);
    SetControlId(m_showData, kIdShowData);
    m_saveResults = new QCheckBox(QStringLiteral("Save Results?"), this);
    SetControlId(m_saveResults, kIdSaveResults);
    auto* checks = new QVBoxLayout;
    checks->addStretch(1);
    checks->addWidget(m_showData);
    checks->addWidget(m_saveResults);
    checks->addStretch(1);

    auto* netbios = new QGroupBox(QStringLiteral("NetBios Stress"), this);
    m_sender = makeRadio(netbios, "Sender", kIdSender);
    m_receiver = makeRadio(netbios, "Receiver", kIdReceiver);
    m_bufferSize = NumberEdit(netbios, 7);
    SetControlId(m_bufferSize, kIdBufferSize);
    m_blocks = NumberEdit(netbios, 7);
    SetControlId(m_blocks, kIdBlocks);
    auto* netbiosLayout = new QGridLayout(netbios);
    netbiosLayout->addWidget(m_sender, 0, 0);
    netbiosLayout->addWidget(m_receiver, 0, 1);
    netbiosLayout->addWidget(makeLabel(netbios, "Buffer Size", m_bufferSize), 1, 0);
    netbiosLayout->addWidget(m_bufferSize, 1, 1);
    netbiosLayout->addWidget(makeLabel(netbios, "Blocks", m_blocks), 2, 0);
    netbiosLayout->addWidget(m_blocks, 2, 1);
    netbiosLayout->setRowStretch(3, 1);

    auto* fileIo = new QGroupBox(QStringLiteral("File I/O Stress"), this);
    m_testFileName = new QLineEdit(fileIo);
    SetControlId(m_testFileName, kIdTestFileName);
    m_fromSize = NumberEdit(fileIo, 7);
    SetControlId(m_fromSize, kIdFromSize);
    m_toSize = NumberEdit(fileIo, 7);
    SetControlId(m_toSize, kIdToSize);
    m_sizeIncrement = NumberEdit(fileIo, 7);
    SetControlId(m_sizeIncrement, kIdSizeIncrement);
    m_iteration = NumberEdit(fileIo, 7);
    SetControlId(m_iteration, kIdIteration);
    m_ioMode = new QComboBox(fileIo);
    SetControlId(m_ioMode, kIdIoMode);
    m_ioMode->setEditable(true);
    m_ioMode->setInsertPolicy(QComboBox::NoInsert);
    m_ioMode->setCompleter(nullptr);
    m_ioMode->lineEdit()->setMaxLength(static_cast<int>(fields::kModeText.limit));
    for (std::string_view name : fields::kModeNames) {
        m_ioMode->addItem(QString::fromLatin1(name.data(), static_cast<qsizetype>(name.size())));
    }
    m_ioMode->model()->sort(0);

    auto* sweep = new QHBoxLayout;
    sweep->addWidget(m_fromSize);
    sweep->addWidget(new QLabel(QStringLiteral("to"), fileIo));
    sweep->addWidget(m_toSize);
    sweep->addStretch(1);
    auto* fileIoLayout = new QGridLayout(fileIo);
    fileIoLayout->addWidget(makeLabel(fileIo, "Test File Name", m_testFileName), 0, 0);
    fileIoLayout->addWidget(m_testFileName, 0, 1);
    fileIoLayout->addWidget(makeLabel(fileIo, "Buffer Size", m_fromSize), 1, 0);
    fileIoLayout->addLayout(sweep, 1, 1);
    fileIoLayout->addWidget(makeLabel(fileIo, "Buffer Size Inc.", m_sizeIncrement), 2, 0);
    fileIoLayout->addWidget(m_sizeIncrement, 2, 1);
    fileIoLayout->addWidget(makeLabel(fileIo, "Iteration", m_iteration), 3, 0);
    fileIoLayout->addWidget(m_iteration, 3, 1);
    fileIoLayout->addWidget(makeLabel(fileIo, "I/O Mode", m_ioMode), 4, 0);
    fileIoLayout->addWidget(m_ioMode, 4, 1, Qt::AlignLeft);
    fileIoLayout->setColumnStretch(1, 1);
    for (QLayout* group :
         {static_cast<QLayout*>(worksAsLayout), static_cast<QLayout*>(netbiosLayout),
          static_cast<QLayout*>(fileIoLayout)}) {
        Compact(group, 6);
    }

    m_start = new QPushButton(QStringLiteral("Start"), this);
    SetControlId(m_start, kIdStart);
    m_start->setDefault(true);
    m_help = new QPushButton(QStringLiteral("Help"), this);
    SetControlId(m_help, kIdHelp);
    m_exit = new QPushButton(QStringLiteral("Exit"), this);
    SetControlId(m_exit, kIdExit);
    auto* buttons = new QVBoxLayout;
    buttons->addWidget(m_start);
    buttons->addWidget(m_help);
    buttons->addWidget(m_exit);
    buttons->addStretch(1);

    auto* boardLabel = new QLabel(QStringLiteral("Message Board"), this);
    m_board = new QLineEdit(this);
    SetControlId(m_board, kIdBoard);
    m_board->setReadOnly(true);
    m_board->setFocusPolicy(Qt::NoFocus);
    // The board sets the dialog's width: about 76 character cells in all.
    m_board->setMinimumWidth(m_board->fontMetrics().averageCharWidth() * 74);

    // The test choice and the check boxes on the left of the top row, Start, Help and Exit on
    // its right; the two test groups below across the whole width, then the board.
    auto* top = new QHBoxLayout;
    top->addWidget(worksAs, 0, Qt::AlignTop);
    top->addSpacing(12);
    top->addLayout(checks);
    top->addStretch(1);
    top->addLayout(buttons);
    auto* middle = new QHBoxLayout;
    middle->addWidget(netbios);
    middle->addWidget(fileIo, 1);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addLayout(middle);
    layout->addWidget(boardLabel);
    layout->addWidget(m_board);
    layout->setSizeConstraint(QLayout::SetFixedSize);
    Compact(layout, 8);
    for (QLayout* row : {static_cast<QLayout*>(top), static_cast<QLayout*>(middle),
                         static_cast<QLayout*>(buttons)}) {
        row->setSpacing(6);
    }

    // The two radio pairs are separate groups: a click selects its button and clears the
    // other of its pair; none of the role pair is selected until the operator picks one.
    for (auto [first, second] :
         {std::pair{m_netbiosStress, m_fileIoStress}, std::pair{m_sender, m_receiver}}) {
        auto* group = new QButtonGroup(this);
        group->setExclusive(true);
        group->addButton(first);
        group->addButton(second);
    }

    connect(m_netbiosStress, &QRadioButton::clicked, this, &ControlDialog::OnNetbiosStress);
    connect(m_fileIoStress, &QRadioButton::clicked, this, &ControlDialog::OnFileIoStress);
    connect(m_sender, &QRadioButton::clicked, this, &ControlDialog::OnSender);
    connect(m_receiver, &QRadioButton::clicked, this, &ControlDialog::OnReceiver);
    connect(m_saveResults, &QCheckBox::clicked, this, &ControlDialog::OnSaveResults);
    connect(m_showData, &QCheckBox::clicked, this, &ControlDialog::OnShowData);
    connect(m_help, &QPushButton::clicked, this, [] { StartHelp(); });
    connect(m_exit, &QPushButton::clicked, this, &ControlDialog::reject);
    connect(m_start, &QPushButton::clicked, this, &ControlDialog::OnStart);

    QWidget* order[] = {m_netbiosStress, m_fileIoStress,  m_showData,  m_saveResults,  m_sender,
                        m_receiver,      m_bufferSize,    m_blocks,    m_testFileName, m_fromSize,
                        m_toSize,        m_sizeIncrement, m_iteration, m_ioMode,       m_start,
                        m_help,          m_exit};
    for (std::size_t i = 1; i < std::size(order); ++i) {
        setTabOrder(order[i - 1], order[i]);
    }
}

bool ControlDialog::Accept(QWidget* control, StoreOutcome outcome, const fields::Field& field) {
    if (outcome == StoreOutcome::Stored) {
        return true;
    }
    ShowOwnerlessBox(ProgramName(), QString::fromStdString(field.Message(outcome)),
                     QMessageBox::Warning);
    control->setFocus(Qt::OtherFocusReason);
    if (auto* edit = qobject_cast<QLineEdit*>(control)) {
        edit->selectAll();
    } else if (auto* combo = qobject_cast<QComboBox*>(control)) {
        combo->lineEdit()->selectAll();
    }
    return false;
}

bool ControlDialog::StoreFields() {
    using namespace fields;
    Stored& s = m_stored;
    // The message board is not the operator's to edit: an engine text longer than the stored
    // board text may hold is cut to fit, so that it cannot fail every later store.
    const std::string board = Bytes(m_board->text());
    s.boardText.assign(CutToBytes(board, kBoard.limit));
    const auto number = [this](QLineEdit* control, const Field& field, auto& stored) {
        const std::string text = Bytes(control->text());
        if constexpr (std::is_signed_v<std::remove_reference_t<decltype(stored)>>) {
            return Accept(control, StoreSigned(text, field.range, stored), field);
        } else {
            return Accept(control, StoreUnsigned(text, field.range, stored), field);
        }
    };
    const auto text = [this](QWidget* control, const QString& shown, const Field& field,
                             std::string& stored) {
        return Accept(control, StoreText(Bytes(shown), field.limit, stored), field);
    };
    return number(m_bufferSize, kBufferSize, s.bufferSize) && number(m_blocks, kBlocks, s.blocks) &&
           text(m_testFileName, m_testFileName->text(), kTestFileName, s.testFileName) &&
           number(m_fromSize, kFromSize, s.fromSize) &&
           number(m_iteration, kIteration, s.iteration) &&
           text(m_ioMode, m_ioMode->currentText(), kModeText, s.modeText) &&
           number(m_sizeIncrement, kSizeIncrement, s.sizeIncrement) &&
           number(m_toSize, kToSize, s.toSize);
}

void ControlDialog::ShowFields() {
    const Stored& s = m_stored;
    m_bufferSize->setText(QString::number(s.bufferSize));
    m_blocks->setText(QString::number(s.blocks));
    m_board->setText(DecodeText(s.boardText.c_str()));
    m_board->setCursorPosition(0);
    m_testFileName->setText(QString::fromStdString(s.testFileName));
    m_fromSize->setText(QString::number(s.fromSize));
    m_iteration->setText(QString::number(s.iteration));
    std::vector<std::string> entries;
    entries.reserve(static_cast<std::size_t>(m_ioMode->count()));
    for (int i = 0; i < m_ioMode->count(); ++i) {
        entries.push_back(Bytes(m_ioMode->itemText(i)));
    }
    if (const auto entry = fields::FindModeEntry(entries, s.modeText)) {
        m_ioMode->setCurrentIndex(static_cast<int>(*entry));
        m_ioMode->setEditText(m_ioMode->itemText(static_cast<int>(*entry)));
    } else {
        m_ioMode->setEditText(QString::fromStdString(s.modeText));
    }
    m_sizeIncrement->setText(QString::number(s.sizeIncrement));
    m_toSize->setText(QString::number(s.toSize));
}

void ControlDialog::SetBoard(const char* text) {
    m_stored.boardText = text;
    ShowFields();
}

void ControlDialog::OnNetbiosStress() {
    m_netbiosTest = true;
    m_fileIoTest = false;
    for (QWidget* on : {m_sender, m_receiver}) {
        on->setEnabled(true);
    }
    for (QWidget* off : {static_cast<QWidget*>(m_testFileName), static_cast<QWidget*>(m_fromSize),
                         static_cast<QWidget*>(m_toSize), static_cast<QWidget*>(m_sizeIncrement),
                         static_cast<QWidget*>(m_iteration), static_cast<QWidget*>(m_ioMode)}) {
        off->setEnabled(false);
    }
    SetBoard(boardtext::kNetbiosText);
}

void ControlDialog::OnFileIoStress() {
    m_fileIoTest = true;
    m_netbiosTest = false;
    for (QWidget* on : {static_cast<QWidget*>(m_start), static_cast<QWidget*>(m_testFileName),
                        static_cast<QWidget*>(m_fromSize), static_cast<QWidget*>(m_toSize),
                        static_cast<QWidget*>(m_sizeIncrement), static_cast<QWidget*>(m_iteration),
                        static_cast<QWidget*>(m_ioMode)}) {
        on->setEnabled(true);
    }
    for (QWidget* off : {static_cast<QWidget*>(m_sender), static_cast<QWidget*>(m_receiver),
                         static_cast<QWidget*>(m_bufferSize), static_cast<QWidget*>(m_blocks)}) {
        off->setEnabled(false);
    }
    SetBoard(boardtext::kFileIoText);
}

void ControlDialog::OnSender() {
    m_senderRole = true;
    m_receiverRole = false;
    for (QWidget* on : {static_cast<QWidget*>(m_bufferSize), static_cast<QWidget*>(m_blocks),
                        static_cast<QWidget*>(m_start)}) {
        on->setEnabled(true);
    }
    SetBoard(boardtext::kSenderText);
}

void ControlDialog::OnReceiver() {
    m_receiverRole = true;
    m_senderRole = false;
    m_start->setEnabled(true);
    m_bufferSize->setEnabled(false);
    m_blocks->setEnabled(false);
    SetBoard(boardtext::kReceiverText);
}

void ControlDialog::OnSaveResults() {
    m_saveResultsOn = m_saveResults->isChecked();
    m_engine.PassSaveResult(m_saveResultsOn ? 1 : 0);
    StoreFields();
    SetBoard(m_saveResultsOn ? boardtext::kSaveOnText : boardtext::kSaveOffText);
}

void ControlDialog::OnShowData() {
    m_showDataOn = m_showData->isChecked();
    m_engine.PassDynaResult(m_showDataOn ? 1 : 0);
    StoreFields();
    SetBoard(m_showDataOn ? boardtext::kShowOnText : boardtext::kShowOffText);
}

void ControlDialog::OnStart() {
    if (m_busy) {
        return;
    }
    m_busy = true;
    m_engine.GetHWND(&m_window);
    m_testStarted = true;
    if (m_netbiosTest) {
        RunNetbiosLaunch();
    }
    if (m_fileIoTest) {
        RunFileIoSweep();
    }
    m_busy = false;
}

void ControlDialog::RunNetbiosLaunch() {
    if (m_receiverRole) {
        SetBoard(boardtext::kReceiveStartText);
        DrainEvents();
        m_engine.SRecvMain();
        SetBoard(boardtext::kReceiveDoneText);
    } else if (m_senderRole) {
        StoreFields();
        if (!fields::kBufferSize.InRange(m_stored.bufferSize) ||
            !fields::kBlocks.InRange(m_stored.blocks)) {
            ShowOwnerlessBox(QString::fromLatin1(kDataEntryCaption),
                             QString::fromLatin1(kDataEntryText), QMessageBox::NoIcon);
            return;
        }
        SetBoard(boardtext::kSendStartText);
        DrainEvents();
        const unsigned short result = m_engine.SSendMain(m_stored.blocks, m_stored.bufferSize);
        // The summary is asked for only after a session ran.
        const char* summary = result == ZEB_SESSION_RAN ? m_engine.GetMsgBuffer() : nullptr;
        SetBoard(boardtext::SenderBoardText(result, summary).c_str());
    }
}

void ControlDialog::RunFileIoSweep() {
    StoreFields();
    const Stored& s = m_stored;
    if (!fields::kFromSize.InRange(s.fromSize) || !fields::kToSize.InRange(s.toSize) ||
        !fields::kSizeIncrement.InRange(s.sizeIncrement) ||
        !fields::kIteration.InRange(s.iteration)) {
        return;
    }
    // Copied: nothing the engine's event drains run may change a sweep under way.
    const sweep::Plan plan{s.testFileName,  s.fromSize,  s.toSize,
                           s.sizeIncrement, s.iteration, fields::IoModeFromText(s.modeText)};
    sweep::Run(plan, [&](std::uint32_t size) {
        return m_engine.SQL_Test(plan.path.c_str(), size, plan.to, plan.increment, plan.mode,
                                 plan.iterations);
    });
}

void ControlDialog::DrainEvents() {
    m_window.EnableInput(false);
    m_window.DispatchPendingEvents();
    m_window.EnableInput(true);
}

void ControlDialog::reject() {
    if (!m_busy) {
        QDialog::reject();
    }
}

void ControlDialog::closeEvent(QCloseEvent* event) {
    if (m_busy) {
        event->ignore();
        return;
    }
    QDialog::closeEvent(event);
}

void ControlDialog::contextMenuEvent(QContextMenuEvent* event) {
    QMenu menu(this);
    QAction* about = menu.addAction(QStringLiteral("&About ZEB Lan Stress Tool..."));
    if (menu.exec(event->globalPos()) == about) {
        AboutDialog box(this);
        box.exec();
    }
}
