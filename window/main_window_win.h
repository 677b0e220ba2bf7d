#pragma once

#include <windows.h>

#include <shellapi.h>

#include <array>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/result.h"
#include "common/unique_win.h"
#include "job/job_paths.h"
#include "job/verdict.h"
#include "window/command_line.h"
#include "window/elevation_win.h"
#include "window/file_picker_win.h"
#include "window/layout.h"

namespace veltrane {

// What the main window needs from the rest of the program.
struct MainWindowDeps {
  // Starts a job whose script's end is to be posted to the window as kJobEndedMessage.
  std::function<Result<void, Refusal>(const JobPaths&, HWND window)> run_job;
  // The report on the job whose end was posted.
  std::function<JobReport()> finish_job;
  std::wstring program_folder;
  std::wstring application_name;  // names the remembered setting
  bool quit_on_destroy = true;    // the program ends with its only window
  bool elevated = false;          // this process runs as administrator
  // Starts the program again as administrator with these arguments, Windows asking the user
  // for consent over `owner`.
  std::function<Result<RestartOutcome>(const std::vector<std::wstring>& arguments, HWND owner)>
      restart = nullptr;
};

// Posted to the window by the command line's --start, so that the job starts once the
// window is shown.
inline constexpr UINT kStartRequestedMessage = WM_APP + 2;

// The timer that keeps a box in front while a job's console closes: every 50 ms for 3 s.
inline constexpr UINT_PTR kFrontTimer = 1;
inline constexpr UINT kFrontTickMs = 50;
inline constexpr int kFrontTicks = 60;

// The program's only window: three path boxes with their pickers, "Start!" and "Quit".
class MainWindow {
 public:
  explicit MainWindow(MainWindowDeps deps);
  ~MainWindow();
  MainWindow(const MainWindow&) = delete;
  MainWindow& operator=(const MainWindow&) = delete;

  // Creates the window, fills the archiver box from the setting and then the boxes the
  // command line gives, shows it and gives the first box the focus. For --start, the job
  // starts as a click on "Start!" would, once the window is shown.
  Result<> Create(int show_command, const CommandLine& line = {});
  HWND hwnd() const { return hwnd_; }
  int dpi() const { return dpi_; }
  // The picker behind a "Browse..." button.
  const FilePicker& picker(ControlId browse_button) const;

 private:
  static LRESULT CALLBACK Procedure(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam) noexcept;
  LRESULT Handle(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam);

  void ApplyCommandLine(const CommandLine& line);
  void OnCommand(int id);
  void OnStart();
  void OnRefused(const Refusal& refusal);
  void AskToRunAsAdministrator(const Refusal& refusal);
  void RestartAsAdministrator();
  void OnDropFiles(HDROP drop);
  void SetMap(const std::wstring& path);
  void AcceptDrops();
  void OnJobEnded();
  void ShowPendingReport();
  void OnBrowse(size_t row);
  void OnClose();
  void OnActivate(WPARAM wparam);
  void StoreSettingOnce(bool report_failure);

  // Counts a picker or a message box as open over the window for as long as it lives.
  class ModalCount {
   public:
    explicit ModalCount(int& open) : open_(open) { ++open_; }
    ~ModalCount() { --open_; }
    ModalCount(const ModalCount&) = delete;
    ModalCount& operator=(const ModalCount&) = delete;

   private:
    int& open_;
  };
  // Runs `show`, which shows a picker or a message box over the window, counted as open so
  // that a job's report that comes meanwhile waits for it (see ShowPendingReport).
  template <class Show>
  auto WhileModal(Show&& show) {
    const ModalCount counted(modal_open_);
    return show();
  }

  // In main_window_layout_win.cpp: the controls, and their layout at the window's DPI.
  bool CreateControls();
  bool CreateControl(const wchar_t* window_class, DWORD style, const Control& design);
  void LayOut();
  void ApplyLayout();
  void Place(ControlId id, const TwipsRect& rect, int width_pixels) const;
  int TextWidth(HFONT font, std::wstring_view text) const;
  void SizeClientArea();
  void OnDpiChanged(int dpi, const RECT& suggested);

  std::wstring Text(ControlId id) const;
  void ShowFailure(std::string_view message);
  bool ShowInFront(std::string_view text, UINT icon);
  void BringToFront();
  void KeepBoxInFront();
  void Flash();

  MainWindowDeps deps_;
  HWND hwnd_ = nullptr;
  Unique<FontTraits> font_;
  HWND focus_before_deactivation_ = nullptr;
  int dpi_ = 96;
  bool setting_stored_ = false;
  bool restarted_ = false;    // started by "Restart as administrator": refusals never ask
  int modal_open_ = 0;        // pickers and message boxes open over the window
  int front_ticks_left_ = 0;  // of the timer that keeps the open box in front
  bool flashed_ = false;      // the taskbar button flashes for the open box
  std::optional<JobReport> pending_report_;
  std::array<FilePicker, kPathRows.size()> pickers_{FilePicker(*kPathRows[0].picker),
                                                    FilePicker(*kPathRows[1].picker),
                                                    FilePicker(*kPathRows[2].picker)};
};

// The program's one way to show a failure: a message box captioned like the window.
void ShowError(HWND owner, std::string_view message);

// The window's class name, for tests and tools that look for it.
inline constexpr wchar_t kMainWindowClass[] = L"VeltraneMain";

}  // namespace veltrane
