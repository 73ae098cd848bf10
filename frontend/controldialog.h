// ControlDialog, "Lan NetBios and File I/O Stress Tools": the test choice, the parameters of
// both tests with their stored values, the two output switches and Start.
#ifndef ZEBWIN_CONTROLDIALOG_H
#define ZEBWIN_CONTROLDIALOG_H

#include "engineapi.h"
#include "fields.h"
#include "qtwindow.h"

#include <QDialog>

#include <cstdint>
#include <string>

class QApplication;
class QCheckBox;
class QComboBox;
class QLineEdit;
class QPushButton;
class QRadioButton;

// Control identifiers; the engine finds the message board by its identifier.
enum ControlId : int {
    kIdNetbiosStress = 1002,
    kIdFileIoStress = 1003,
    kIdShowData = 1013,
    kIdSaveResults = 1012,
    kIdSender = 1009,
    kIdReceiver = 1010,
    kIdBufferSize = 1005,
    kIdBlocks = 1006,
    kIdTestFileName = 1014,
    kIdFromSize = 1015,
    kIdToSize = 1023,
    kIdSizeIncrement = 1022,
    kIdIteration = 1017,
    kIdIoMode = 1016,
    kIdStart = 1,
    kIdHelp = 1020,
    kIdExit = 1000,
    kIdBoard = ZEB_BOARD_ID,
};

// The program-wide look of the dialog: Fusion with a light grey palette and black text, an
// 8-point sans-serif font, the program icon.
void ApplyDialogLook(QApplication& app);

class ControlDialog : public QDialog {
    Q_OBJECT
  public:
    ControlDialog(const EngineApi& engine, fields::Keyword keyword, QWidget* parent = nullptr);
    ~ControlDialog() override;

    // Set by every Start; decides the exit status.
    bool TestStarted() const { return m_testStarted; }
    // The program's exit status once the dialog has closed: the engine's result code after
    // any Start, else 0.
    int ExitStatus() const { return m_testStarted ? m_engine.GetRetCode() : 0; }

    // Reads and validates every field in order, stopping at the first failure with its
    // message box. Returns whether every field passed.
    bool StoreFields();
    // Writes every stored value back into its field.
    void ShowFields();

    // Exit, Escape and Close; refused while a test runs.
    void reject() override;

  protected:
    void closeEvent(QCloseEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;

  private:
    struct Stored {
        std::uint32_t bufferSize = fields::kBufferSize.DefaultUnsigned();
        std::int32_t blocks = fields::kBlocks.DefaultSigned();
        std::string boardText{fields::kBoard.text};
        std::string testFileName{fields::kTestFileName.text};
        std::uint32_t fromSize = fields::kFromSize.DefaultUnsigned();
        std::uint32_t iteration = fields::kIteration.DefaultUnsigned();
        std::string modeText{fields::kModeText.text};
        std::uint32_t sizeIncrement = fields::kSizeIncrement.DefaultUnsigned();
        std::uint32_t toSize = fields::kToSize.DefaultUnsigned();
    };

    void BuildControls();
    bool Accept(QWidget* control, fields::StoreOutcome outcome, const fields::Field& field);
    void SetBoard(const char* text);

    void OnNetbiosStress();
    void OnFileIoStress();
    void OnSender();
    void OnReceiver();
    void OnSaveResults();
    void OnShowData();
    void OnStart();
    void RunNetbiosLaunch();
    void RunFileIoSweep();
    void DrainEvents();

    const EngineApi& m_engine;
    QtWindow m_window;
    Stored m_stored;

    bool m_netbiosTest = false;
    bool m_fileIoTest = false;
    bool m_senderRole = false;
    bool m_receiverRole = false;
    bool m_saveResultsOn = false;
    bool m_showDataOn = false;
    bool m_testStarted = false;
    // Set while Start runs an engine call: the dialog then cannot be closed.
    bool m_busy = false;

    QRadioButton* m_netbiosStress = nullptr;
    QRadioButton* m_fileIoStress = nullptr;
    QCheckBox* m_showData = nullptr;
    QCheckBox* m_saveResults = nullptr;
    QRadioButton* m_sender = nullptr;
    QRadioButton* m_receiver = nullptr;
    QLineEdit* m_bufferSize = nullptr;
    QLineEdit* m_blocks = nullptr;
    QLineEdit* m_testFileName = nullptr;
    QLineEdit* m_fromSize = nullptr;
    QLineEdit* m_toSize = nullptr;
    QLineEdit* m_sizeIncrement = nullptr;
    QLineEdit* m_iteration = nullptr;
    QComboBox* m_ioMode = nullptr;
    QPushButton* m_start = nullptr;
    QPushButton* m_help = nullptr;
    QPushButton* m_exit = nullptr;
    QLineEdit* m_board = nullptr;
};

#endif
