#pragma once
// The main window of a single-document program: menu bar, the view as its client, and a status
// bar whose one pane shows the idle text "Ready".
//
//   class CMainFrame : public platform::MainFrame {
//       CMainFrame() { menuBar()->addMenu("&File")->addAction("E&xit", this, &QWidget::close); }
//       void ActivateFrame(int showCommand) override; // e.g. apply a stored placement first
//       bool OnClose() override; // store the placement, then MainFrame::OnClose()
//   };

#include <QMainWindow>

class QCloseEvent;
class QLabel;

namespace platform {

class Document;
class FormView;

class MainFrame : public QMainWindow {
public:
    explicit MainFrame(QWidget* parent = nullptr);
    ~MainFrame() override;

    void SetView(FormView* view);
    FormView* GetActiveView() const { return view_; }
    Document* GetActiveDocument() const;

    // Lays out menu bar, view and status bar for the current size.
    void RecalcLayout();

    // Shows the frame; showCommand < 0 shows it as it is (see ShowCommand).
    virtual void ActivateFrame(int showCommand = -1);

    QLabel* MessagePane() const { return messagePane_; }

protected:
    // The user or the program closes the frame. The default closes the document and returns
    // true, which lets the window close; false keeps it open.
    virtual bool OnClose();
    void closeEvent(QCloseEvent* event) override;

private:
    FormView* view_ = nullptr;
    QLabel* messagePane_;
};

} // namespace platform
