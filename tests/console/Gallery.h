#pragma once
// The screenshot gallery: walks a manifest of console windows, opens each the way a user
// would, saves a PNG of it (of every page, for a property sheet) and closes it again.
//
// The manifest (tests/console/gallery.tsv) has one tab-separated line per window:
//   window  dialogs  how  [arguments...]
// `window` names the pictures: "<order>-<window>.png", or "<order>-<window>-<page>-<tab>.png"
// for each page of a sheet, order counting the manifest's lines from 1. `dialogs` lists the
// dialog numbers the window shows (read by the drivers, not here). `how`:
//   main                      the main window with both trees
//   menu VIEW PATH [SUBMENU]  the context menu of the item at PATH ("-": beside the items),
//                             with its entry SUBMENU's menu open beside it when named
//   open VIEW PATH COMMAND    runs COMMAND (a number, or double-click) on the item at PATH and
//                             catches the window it opens
//   app COMMAND               an application command: about, online-options, change-password
//   make WINDOW               a window the console opens only on the engine's word, or from a
//                             window not built yet, made here: confirm-password,
//                             message-received, recipient-sheet (on a working copy of the
//                             default access right's first recipient), alert-stop,
//                             alert-question, alert-exclamation, alert-information,
//                             alert-plain (no icon)
// open, app and make may go on inside the window they opened, where [PAGE:]CONTROL names
// control CONTROL (on page PAGE of a sheet, shown first):
//   then [PAGE:]CONTROL       clicks the button, or double-clicks the first row of the list, and
//                             catches the window that opens
//   select [PAGE:]CONTROL PATH  makes the item at PATH the tree's current one
//   menu [PAGE:]CONTROL PATH  (last) the context menu of the item at PATH of the tree, shot over
//                             the window in place of the window alone
// The last window caught is shot.
// VIEW is cfg (configuration tree), act (activity view), or purge: a request filter tree of
// the gallery's own over purge filters, as the cache's pages show them. A PATH is the items'
// labels from the top joined by "/"; a label that ends in "*" stands for the first that begins
// with the rest.
//
// Every picture's "saved <path>|<title>" line is printed; a window that could not be opened or
// whose page could not be shown is "missing <window>: <why>"; a window with an edit that shows
// one of the secrets in clear text is "unmasked <window> <control id>"; a text of a list or tree
// that a picture shows cut (elided, or past the list's edge) is "cut <picture> <control id or
// class> <text>".

#include "tests/console/Shots.h"

#include <QDeadlineTimer>
#include <QPointer>
#include <QTimer>

#include <deque>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <vector>

class QTreeWidget;
class QTreeWidgetItem;
class QWidget;

class CGallery {
public:
    struct Entry {
        std::string window;
        std::vector<std::string> how;  // the "how" field and its arguments
    };

    // Reads a manifest; false with `error` set when it cannot be read or a line is malformed.
    static bool ReadManifest(const std::string& path, std::vector<Entry>& entries, std::string& error);

    // `secrets`: passwords that no window may show in clear text.
    CGallery(CShots& shots, std::vector<Entry> entries, std::vector<std::string> secrets,
             std::function<void(const std::string&)> say);
    ~CGallery();

    // The item at `path` of `view` (PATH above), or null.
    static QTreeWidgetItem* FindPath(QTreeWidget* view, const std::string& path);
    // Selects the item at `path` and runs the view's command `command` on it (kDoubleClick:
    // double-clicks it); false when there is no such item.
    static constexpr int kDoubleClick = -1;
    static bool RunCommand(QTreeWidget* view, const std::string& path, int command);
    // Clicks `control` when it is a button, or double-clicks the first row when it is a list,
    // with the mouse's own events; posted, so that a window this opens runs its own loop while
    // the caller goes on. False for anything else, or an empty list.
    static bool Activate(QWidget* control);

    // Starts the walk; Done() once every entry was shot or reported missing.
    void Start();
    bool Done() const { return m_steps.empty() && m_next >= m_entries.size(); }
    int Missing() const { return m_missing; }

private:
    // A step polled until it returns true; the entry's steps run in order.
    using Step = std::function<bool()>;

    void Poll();
    void Plan(const Entry& entry);
    void Miss(const std::string& why);
    // The context menu of the item at `path` of the tree that `tree` gives when the step runs.
    void PlanMenu(std::function<QTreeWidget*()> tree, const std::string& path, const std::string& submenu);
    // A step inside a window: its keyword and arguments (see the top of this file).
    using Inside = std::vector<std::string>;
    // Opens a window and takes the steps inside it; the last window caught is shot, or the
    // menu a last "menu" step opens.
    void PlanWindow(std::function<void()> open, std::vector<Inside> inside);
    static QWidget* OnPage(QWidget* window, const std::string& what);
    bool Operate(QWidget* window, const Inside& step);
    // Waits for a visible top-level window that was not there before `Snapshot`.
    void PlanCatch();
    void Snapshot();
    void ShootWindow(QWidget* window);
    void CheckMasked(QWidget* window);
    // Reports every text of a list or tree of `window` that is cut: elided in its cell, or
    // beyond the edge of what the list shows.
    void CheckCut(QWidget* window, const std::string& picture);
    QTreeWidget* View(const std::string& name);
    std::string Name(const std::string& page = {}) const;

    CShots& m_shots;
    std::vector<Entry> m_entries;
    std::vector<std::string> m_secrets;
    std::function<void(const std::string&)> m_say;
    std::size_t m_next = 0;        // the next entry to plan
    std::deque<Step> m_steps;      // the current entry's steps left
    QDeadlineTimer m_deadline;     // of the step polled now
    std::set<QWidget*> m_before;   // the top-level windows before a window was opened
    std::vector<QPointer<QWidget>> m_opened;  // the windows of the current entry, outermost first
    int m_missing = 0;
    QTimer m_timer;
    std::unique_ptr<QWidget> m_purgeFilters;  // the window of the view "purge", made when named
};
