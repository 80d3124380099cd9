// Page events, element operations, batching, threads and re-entrancy on real
// web views.
#include <malloc.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <fstream>
#include <thread>

#include <gtk/gtk.h>
#include <webkit2/webkit2.h>

#include "tests/support/sanitizer.h"
#include "tests/ui_engine/gui_fixture.h"
#include "ui_engine/element.h"
#include "ui_engine/engine_internal.h"

#ifdef VORTA_ADDRESS_SANITIZER
#include <sanitizer/allocator_interface.h>
#endif

using ui::Element;
using ui::FindById;
using ui::FindInFrame;

namespace {

class PageTest : public GuiTest {
protected:
    void SetUp() override {
        GuiTest::SetUp();
        if (HasFatalFailure()) return;
        ui::WindowOptions o;
        o.title = "test";
        o.width = 640;
        o.height = 480;
        win = std::make_unique<ui::HostWindow>(o);
        win->SetEventHandler(&log);
        ASSERT_TRUE(win->LoadPage(Page("events.htm")));
        win->Show();
    }
    Element El(const std::string& id) { return FindById(*win, id); }
    EventLog log;
    std::unique_ptr<ui::HostWindow> win;
};

TEST_F(PageTest, ButtonBehaviourClicksAndSelectChangesArriveInOrder) {
    El("b1").PostClick();
    El("b2").PostClick();
    El("inner").PostClick();       // inside a .btnctrl: the btnctrl is the target
    El("plain").PostClick();       // no button behaviour: no event
    El("noid_inner").PostClick();  // a button without an id: target null, id ""
    win->Evaluate(
        "var s=document.getElementById('s1'); s.value='b';"
        "s.dispatchEvent(new Event('change',{bubbles:true})); 1");
    FindInFrame(*win, "frm", "fbtn").PostClick();
    ASSERT_TRUE(log.WaitCount(6));
    Settle();
    EXPECT_EQ(log.entries, (std::vector<std::string>{"0:b1", "0:b2", "0:b3", "0:", "5:s1=b", "0:fbtn"}));
    EXPECT_EQ(log.events[0].reason, 1u);
    EXPECT_TRUE(log.events[3].target.IsNull());
    // The frame button's handle leads back into the frame.
    const Element& fbtn = log.events[5].target;
    EXPECT_EQ(fbtn.frame_path(), std::vector<std::string>{"frm"});
    EXPECT_EQ(fbtn.GetText(), "in frame");
    EXPECT_EQ(fbtn.GetAttribute("id"), "fbtn");
}

// List rows repeat their buttons' ids: the event's target is the button that
// was pressed, so the handler reads that row's data.
TEST_F(PageTest, RepeatedIdsTargetTheElementThatWasClicked) {
    for (const char* row : {"1", "2", "3"})
        El("list").AppendHtml(std::string("<li><button id='view' objid='") + row + "'>view</button></li>");
    El("view").Nth(2).PostClick();
    El("view").Nth(1).PostClick();
    El("view").PostClick();
    ASSERT_TRUE(log.WaitCount(3));
    Settle();
    std::vector<std::string> rows;
    for (const auto& ev : log.events) rows.push_back(ev.target.GetAttribute("objid"));
    EXPECT_EQ(rows, (std::vector<std::string>{"3", "2", "1"}));
    EXPECT_EQ(El("view").Nth(1).GetAttribute("objid"), "2");
    EXPECT_EQ(El("view").Nth(7).GetAttribute("objid"), "");
}

TEST_F(PageTest, ButtonsAndLinksInsideFormsDoNotNavigate) {
    El("fb").PostClick();
    El("lnk").PostClick();
    ASSERT_TRUE(log.WaitCount(1));
    Settle(300);
    EXPECT_EQ(log.entries, std::vector<std::string>{"0:fb"});
    EXPECT_EQ(win->Evaluate("location.pathname"), "/ENG/events.htm");
    EXPECT_EQ(El("t1").GetText(), "old");  // still the same document
}

TEST_F(PageTest, NullAndMissingElementsDoNothing) {
    std::string before = ui::Element::Root(win->id()).GetHtml();
    ASSERT_FALSE(before.empty());
    for (const Element& e : {Element(), El("missing"), FindInFrame(*win, "nope", "t1"), FindInFrame(*win, "frm", "x"),
                             FindById(0, "t1"), FindById(*win, "")}) {
        e.SetText("x");
        e.SetAttribute("class", "y");
        e.RemoveAttribute("id");
        e.AppendHtml("<b>z</b>");
        e.SetHtml("");
        e.SetValue("1");
        e.SetStyle("color", "red");
        e.ShowPopup(El("t1"));
        e.HidePopup();
        e.PostClick();
        win->ShowScriptPage(e, "app://local/ENG/frame.htm", {}, {}).CallScript("echo", {"a"});
        win->CloseScriptPage(e);
        e.CallScript("echo", {"a"});
        e.Update();
        EXPECT_FALSE(e.Exists());
        EXPECT_EQ(e.GetText(), "");
        EXPECT_EQ(e.GetValue(), "");
        EXPECT_EQ(e.GetAttribute("class"), "");
    }
    EXPECT_TRUE(El("t1").Exists());
    EXPECT_TRUE(FindInFrame(*win, "frm", "ft").Exists());
    Settle();
    EXPECT_EQ(ui::Element::Root(win->id()).GetHtml(), before);
    EXPECT_TRUE(log.entries.empty());
}

TEST_F(PageTest, TextAndAttributesNeverRunAsScriptOrMarkup) {
    const std::string nasty =
        "<script>window.__hit=1</script><img src=x onerror=\"window.__hit=2\">'\"\\\n\xe2\x80\xa8 end";
    El("t1").SetText(nasty);
    El("t1").SetAttribute("title", nasty);
    El(nasty).SetText("by a hostile id");  // an id is data too
    EXPECT_EQ(El("t1").GetText(), nasty);
    EXPECT_EQ(El("t1").GetAttribute("title"), nasty);
    Settle(200);
    EXPECT_EQ(win->Evaluate("String(document.getElementById('t1').children.length)"), "0");
    EXPECT_EQ(win->Evaluate("String(window.__hit)"), "undefined");

    // Bytes that are not UTF-8 arrive as replacement characters; a NUL survives.
    El("t1").SetText(
        std::string("a\xff"
                    "b\0c",
                    5));
    EXPECT_EQ(El("t1").GetText(), std::string("a\xef\xbf\xbd"
                                              "b\0c",
                                              7));

    // A null value removes; a bad attribute name fails alone, the batch goes on.
    El("t1").SetAttribute("data-x", "1");
    EXPECT_EQ(El("t1").GetAttribute("data-x"), "1");
    El("t1").SetAttribute("data-x", nullptr);
    El("t1").SetAttribute("bad name", "1");
    El("t1").SetAttribute("data-y", "2");
    EXPECT_EQ(win->Evaluate("String(document.getElementById('t1').hasAttribute('data-x'))"), "false");
    EXPECT_EQ(El("t1").GetAttribute("data-y"), "2");
}

TEST_F(PageTest, QueuedWritesReachThePageInOrderBeforeARead) {
    El("t1").SetText("first");
    for (int i = 1; i <= 3; ++i) El("list").AppendHtml("<li>" + std::to_string(i) + "</li>");
    El("t1").SetText("second");
    El("in1").SetValue("typed");
    El("pg").SetValue("42");
    El("s1").SetValue("b");
    El("t1").SetStyle("color", "rgb(1, 2, 3)");
    El("list").SetHtml("");
    El("list").AppendHtml("<li>only</li>");
    // Nothing has been sent yet: the writes wait for idle or for a read.
    EXPECT_EQ(El("t1").GetText(), "second");
    EXPECT_EQ(El("list").GetHtml(), "<li>only</li>");
    EXPECT_EQ(El("in1").GetValue(), "typed");
    EXPECT_EQ(El("pg").GetValue(), "42");
    EXPECT_EQ(El("s1").GetValue(), "b");
    EXPECT_EQ(win->Evaluate("document.getElementById('t1').style.color"), "rgb(1, 2, 3)");
    El("t1").SetStyle("color", "");
    EXPECT_EQ(win->Evaluate("document.getElementById('t1').style.color"), "");
    // SetValue fires no page events.
    Settle();
    EXPECT_TRUE(log.entries.empty());
}

TEST_F(PageTest, JoinedAppendsKeepTheirOrderAmongOtherWrites) {
    // Appends to one element are joined into one parse; writes to other
    // elements, and writes that need the appended nodes, still see them in
    // the order they were made.
    El("list").SetHtml("");
    El("list").AppendHtml("<li id=\"r1\">1</li>");
    El("list").AppendHtml("<li id=\"r2\">2</li>");
    El("plain").AppendHtml("<b>x</b>");
    El("list").AppendHtml("<li id=\"r3\">3</li>");
    El("r2").SetAttribute("class", "picked");
    El("list").AppendHtml("<li>4</li>");
    El("t1").SetText("after");
    EXPECT_EQ(El("list").GetHtml(),
              "<li id=\"r1\">1</li><li id=\"r2\" class=\"picked\">2</li><li id=\"r3\">3</li><li>4</li>");
    EXPECT_EQ(El("plain").GetHtml(), "plain<b>x</b>");
    EXPECT_EQ(El("t1").GetText(), "after");
    // Appends left pending at the end of a batch are in place for the next read.
    El("list").AppendHtml("<li>5</li>");
    EXPECT_EQ(win->Evaluate("document.getElementById('list').children.length + ''"), "5");
}

TEST_F(PageTest, PopupShowsBelowItsAnchorAndHides) {
    El("popup").ShowPopup(El("b1"));
    EXPECT_EQ(win->Evaluate("getComputedStyle(document.getElementById('popup')).display"), "block");
    EXPECT_EQ(win->Evaluate("String(Math.round(document.getElementById('popup').getBoundingClientRect().top -"
                            " document.getElementById('b1').getBoundingClientRect().bottom))"),
              "0");
    El("popup").HidePopup();
    EXPECT_EQ(win->Evaluate("getComputedStyle(document.getElementById('popup')).display"), "none");
}

TEST_F(PageTest, HandlesSurviveThePageRebuildingTheElement) {
    Element t = El("t1");
    win->Evaluate("document.body.innerHTML = '<p id=\"t1\">rebuilt</p>'; 1");
    EXPECT_EQ(t.GetText(), "rebuilt");
    ASSERT_TRUE(win->LoadPage(Page("events.htm")));
    EXPECT_EQ(t.GetText(), "old");
}

TEST_F(PageTest, WorkerPostsRunInOrderOnTheUiThread) {
    std::vector<int> seen;
    std::atomic<bool> off_thread{false};
    std::thread worker([&] {
        for (int i = 0; i < 100; ++i) {
            ui::PostToUi([&, i] {
                if (!ui::IsUiThread()) off_thread = true;
                seen.push_back(i);
                El("list").AppendHtml("<li>" + std::to_string(i) + "</li>");
            });
        }
        int answer = ui::RunOnUiAndWait([&] { return static_cast<int>(seen.size()); });
        ui::PostToUi([&, answer] { seen.push_back(1000 + answer); });
    });
    ASSERT_TRUE(ui::RunLoopUntil([&] { return seen.size() == 101; }, 10000));
    worker.join();
    EXPECT_FALSE(off_thread);
    for (int i = 0; i < 100; ++i) ASSERT_EQ(seen[i], i);
    EXPECT_EQ(seen[100], 1100);  // the waited-for call ran after all 100 posts
    std::string expected;
    for (int i = 0; i < 100; ++i) expected += "<li>" + std::to_string(i) + "</li>";
    EXPECT_EQ(El("list").GetHtml(), expected);
}

TEST_F(PageTest, EventsAndPostsDuringAReadWaitUntilItReturns) {
    std::vector<std::string> order;
    struct Handler : ui::EventHandler {
        std::vector<std::string>* order;
        void OnBehaviorEvent(ui::HostWindow& w, const ui::BehaviorEvent& ev) override {
            order->push_back("event " + ev.target_id);
            // A read inside a handler is fine; it does not deliver the next event early.
            order->push_back("text " + ui::FindById(w, "t1").GetText());
        }
    } handler;
    handler.order = &order;
    win->SetEventHandler(&handler);
    El("b1").PostClick();  // runs in the page just before the read below
    El("b2").PostClick();
    ui::PostToUi([&] { order.push_back("posted"); });
    order.push_back("read " + El("t1").GetText());
    // The page reported both clicks while the read waited; none was delivered.
    EXPECT_EQ(order, std::vector<std::string>{"read old"});
    ASSERT_TRUE(ui::RunLoopUntil([&] { return order.size() == 6; }, 5000));
    EXPECT_EQ(order, (std::vector<std::string>{"read old", "posted", "event b1", "text old", "event b2", "text old"}));
}

TEST_F(PageTest, PrivateMessagesArriveInPostingOrder) {
    std::vector<std::string> got;
    win->SetMessageHandler([&](uint32_t msg, intptr_t w, intptr_t l) {
        got.push_back(std::to_string(msg) + "/" + std::to_string(w) + "/" + std::to_string(l));
    });
    ui::WindowId id = win->id();
    std::thread worker([id] {
        for (uint32_t m = 2024; m <= 2029; ++m) ui::PostWindowMessage(id, m, m - 2024, -1);
    });
    worker.join();
    win->PostMessage(3024, 7, 8);
    ui::PostWindowMessage(id + 1000, 2028, 0, 0);  // no such window: dropped
    ASSERT_TRUE(ui::RunLoopUntil([&] { return got.size() == 7; }, 5000));
    EXPECT_EQ(got, (std::vector<std::string>{"2024/0/-1", "2025/1/-1", "2026/2/-1", "2027/3/-1", "2028/4/-1",
                                             "2029/5/-1", "3024/7/8"}));
    // Messages to a window destroyed before delivery are dropped.
    win->PostMessage(2028, 0, 0);
    win.reset();
    Settle();
    EXPECT_EQ(got.size(), 7u);
}

TEST_F(PageTest, ScriptPageCallsAndExternalEvents) {
    std::vector<ui::ExternalCall> calls;
    std::vector<std::string> states;
    ui::ScriptPageHandlers handlers;
    handlers.ready = [&] { states.push_back("ready"); };
    handlers.gone = [&] { states.push_back("gone"); };
    handlers.external = [&](const ui::ExternalCall& c) { calls.push_back(c); };
    const std::string url = ui::PageUrl(Page("script_page.htm"));
    // Shown twice at once: the first showing is replaced before it reports.
    win->ShowScriptPage(El("holder"), url, {"on_page_loaded"}, handlers);
    Element frame =
        win->ShowScriptPage(El("holder"), url, {"on_page_loaded", "on_echo_event", "bad name", ""}, handlers);
    ASSERT_FALSE(frame.IsNull());
    EXPECT_EQ(frame.id(), "holder_page");
    frame.CallScript("echo", {"too early"});  // the page has not run yet: nothing
    ASSERT_TRUE(ui::RunLoopUntil([&] { return !calls.empty(); }, 5000));
    EXPECT_EQ(states, std::vector<std::string>{"ready"});
    EXPECT_EQ(calls[0].name, "on_page_loaded");
    EXPECT_EQ(calls[0].frame_path, std::vector<std::string>{"holder_page"});
    frame.CallScript("no_such_function", {"x"});
    El("holder").CallScript("echo", {"a\"b'c\\", "2"});  // the holder finds its frame
    ASSERT_TRUE(ui::RunLoopUntil([&] { return calls.size() == 2; }, 5000));
    EXPECT_EQ(calls[1].name, "on_echo_event");
    EXPECT_EQ(calls[1].args, (std::vector<std::string>{"a\"b'c\\", "2", "1.5"}));
    // Only the methods named exist; nested and other frames have none.
    frame.CallScript("call_unnamed", {});
    frame.CallScript("nested_external", {});
    ASSERT_TRUE(ui::RunLoopUntil([&] { return calls.size() == 4; }, 5000));
    EXPECT_EQ(calls[2].args, (std::vector<std::string>{"true", "undefined"}));
    EXPECT_EQ(calls[3].args, std::vector<std::string>{"undefined"});
    EXPECT_EQ(win->Evaluate("typeof window.external"), "undefined");
    EXPECT_EQ(win->Evaluate("typeof document.getElementById('frm').contentWindow.external"), "undefined");
    // Same origin: the script page's document is reachable by frame path.
    frame.CallScript("set_text", {"<b>t</b>"});
    Element out = FindInFrame(*win, "holder_page", "out");
    ASSERT_TRUE(ui::RunLoopUntil([&] { return out.GetText() == "<b>t</b>"; }, 5000));
    // Closed: the page goes, its reports with it.
    win->CloseScriptPage(El("holder"));
    Settle(200);
    EXPECT_FALSE(frame.Exists());
    EXPECT_EQ(states, std::vector<std::string>{"ready"});
    EXPECT_EQ(calls.size(), 4u);
    // Only the program's pages are shown as script pages.
    EXPECT_TRUE(win->ShowScriptPage(El("holder"), "data:text/html,x", {"on_page_loaded"}, handlers).IsNull());
    EXPECT_TRUE(win->ShowScriptPage(ui::Element::Root(win->id()), url, {}, handlers).IsNull());
}

// Bytes the process's allocator holds for live blocks.
size_t LiveHeapBytes() {
#ifdef VORTA_ADDRESS_SANITIZER
    return __sanitizer_get_current_allocated_bytes();
#else
    const struct mallinfo2 m = mallinfo2();
    return m.uordblks + m.hblkhd;
#endif
}

// A call's arguments go to the engine in a container made per call, which
// must be gone once the page has run it: a dive view makes a few such calls
// with the dive's samples, hundreds of dives in a session.
TEST_F(PageTest, ScriptCallsLeaveNothingBehind) {
    bool ready = false;
    ui::ScriptPageHandlers handlers;
    handlers.ready = [&] { ready = true; };
    Element frame = win->ShowScriptPage(El("holder"), ui::PageUrl(Page("script_page.htm")), {}, handlers);
    ASSERT_TRUE(ui::RunLoopUntil([&] { return ready; }, 5000));
    Element out = FindInFrame(*win, "holder_page", "out");
    auto call_and_wait = [&](const std::string& last) {
        frame.CallScript("set_text", {last});
        return ui::RunLoopUntil([&] { return out.GetText() == last; }, 10000);
    };
    ASSERT_TRUE(call_and_wait("warm"));
    const size_t before = LiveHeapBytes();
    constexpr int kCalls = 100;
    const std::string text(200 * 1024, 'x');
    for (int i = 0; i < kCalls; ++i) frame.CallScript("set_text", {text + std::to_string(i)});
    ASSERT_TRUE(call_and_wait("done"));
    Settle(200);
    const size_t after = LiveHeapBytes();
    // Kept, the calls' arguments alone would come to 20 MB.
    EXPECT_LT(after, before + 8 * 1024 * 1024) << (after - before) / 1024 << " kB more";
}

TEST_F(PageTest, ForeignPagesAndForgedMessagesRaiseNothing) {
    std::vector<ui::ExternalCall> calls;
    ui::ScriptPageHandlers handlers;
    handlers.external = [&](const ui::ExternalCall& c) { calls.push_back(c); };
    win->ShowScriptPage(El("holder"), ui::PageUrl(Page("script_page.htm")), {"on_page_loaded"}, handlers);
    ASSERT_TRUE(ui::RunLoopUntil([&] { return calls.size() == 1; }, 5000));
    // A message that did not come from the runtime is dropped.
    win->Evaluate(
        "window.webkit.messageHandlers.vorta.postMessage("
        "JSON.stringify({k:'ev',c:0,p:[],i:'b1',r:0})); 1");
    // Nor one that copies everything of a script page's report but the token.
    win->Evaluate(
        "var g=document.getElementById('holder_page').getAttribute('data-vorta-script');"
        "window.webkit.messageHandlers.vorta.postMessage("
        "JSON.stringify({k:'ext',p:['holder_page'],g:g,n:'on_page_loaded',a:[]})); 1");
    calls.clear();
    // A foreign page gets no runtime and no window.external.
    ASSERT_TRUE(
        win->LoadUri("data:text/html,<script>try{window.webkit.messageHandlers.vorta.postMessage("
                     "JSON.stringify({k:'ev',c:0,p:[],i:'x',r:0}))}catch(e){}"
                     "try{window.external.on_map_event('1','2')}catch(e){}"
                     "document.title=typeof window.__vorta</script><button id=b>b</button>"));
    EXPECT_EQ(win->Evaluate("document.title"), "undefined");
    ui::FindById(*win, "b").PostClick();  // no runtime there: nothing happens
    win->Evaluate("document.getElementById('b').click(); 1");
    Settle(300);
    EXPECT_TRUE(log.entries.empty());
    EXPECT_TRUE(calls.empty());
    // Back on an own page, events flow again.
    ASSERT_TRUE(win->LoadPage(Page("events.htm")));
    El("b1").PostClick();
    ASSERT_TRUE(log.WaitCount(1));
    EXPECT_EQ(log.entries, std::vector<std::string>{"0:b1"});
}

// Nothing moves a page window off the program's pages: not the view told to
// open a file (what a file dropped on it does), not a page script, a link or
// a frame sent elsewhere. The page stays, with its events; own pages still
// open.
TEST_F(PageTest, PagesStayOnTheProgramsOwnAddresses) {
    const std::string file = ::testing::TempDir() + "ui_engine_dropped_" + std::to_string(getpid()) + ".htm";
    std::ofstream(file) << "<title>dropped</title><p id=t1>dropped</p>";
    const std::string own = ui::PageUrl(Page("events.htm"));
    struct Attempt {
        const char* what;
        std::string script;  // "" = the view is told to load `file`
    };
    const Attempt attempts[] = {
        {"view loads a file", ""},
        {"top to a file", "location.href='file://" + file + "'"},
        {"top to http", "location.href='http://127.0.0.1:9/'"},
        {"top to data", "location.href='data:text/html,<p id=t1>data</p>'"},
        {"top to about:blank", "location.href='about:blank'"},
        {"link with a target",
         "var a=document.createElement('a');a.href='http://127.0.0.1:9/';a.target='_top';"
         "document.body.appendChild(a);a.click()"},
        {"frame to data", "document.getElementById('frm').src='data:text/html,<p id=ft>data</p>'"},
        {"frame to a file", "document.getElementById('frm').contentWindow.location='file://" + file + "'"},
        {"frame from inside to http",
         "document.getElementById('frm').contentWindow.eval("
         "\"location.href='http://127.0.0.1:9/'\")"},
    };
    for (const Attempt& a : attempts) {
        if (a.script.empty()) webkit_web_view_load_uri(win->web_view(), ("file://" + file).c_str());
        else win->Evaluate(a.script + "; 1");
        Settle(400);
        EXPECT_EQ(win->Evaluate("location.href"), own) << a.what;
        EXPECT_EQ(El("t1").GetText(), "old") << a.what;
        EXPECT_EQ(FindInFrame(*win, "frm", "ft").GetText(), "frame text") << a.what;
    }
    log.entries.clear();
    El("b1").PostClick();
    ASSERT_TRUE(log.WaitCount(1));
    EXPECT_EQ(log.entries, std::vector<std::string>{"0:b1"});
    // The program's own pages still open, in the frame and on top.
    win->Evaluate("document.getElementById('frm').src='dialog.htm'; 1");
    EXPECT_TRUE(ui::RunLoopUntil([&] { return !FindInFrame(*win, "frm", "ft").Exists(); }, 5000));
    win->Evaluate("location.href='frame.htm'; 1");
    EXPECT_TRUE(ui::RunLoopUntil([&] { return El("fbtn").Exists(); }, 5000));
    std::remove(file.c_str());
}

// The frames of a page share its origin and may replace what its window
// offers; what they put in place never sees the message token, and events
// still reach the host.
TEST_F(PageTest, ReplacedPageFunctionsNeverSeeTheMessageToken) {
    win->Evaluate(
        "window.__seen=[];"
        "var keep=function(x){try{window.__seen.push(String(x))}catch(e){}};"
        "var js=JSON.stringify;"
        "JSON.stringify=function(v){keep(js(v));return js(v)};"
        "Object.defineProperty(Object.prototype,'t',{set:function(v){keep(v)},get:function(){return ''},"
        "configurable:true});"
        "Object.prototype.toJSON=function(){var d=Object.getOwnPropertyDescriptor(this,'t');"
        "if(d)keep(d.value);return this};"
        "var h=window.webkit.messageHandlers.vorta,pm=h.postMessage;"
        "h.postMessage=function(x){keep(x);return pm.call(h,x)};"
        "Object.getPrototypeOf(h).postMessage=h.postMessage;"
        "var sl=String.prototype.slice;String.prototype.slice=function(){keep(this);return sl.apply(this,arguments)};"
        "1");
    El("b1").PostClick();
    ASSERT_TRUE(log.WaitCount(1));
    EXPECT_EQ(log.entries, std::vector<std::string>{"0:b1"});
    const std::string seen = win->Evaluate("JSON.stringify(window.__seen)");
    EXPECT_EQ(seen.find(ui::detail::MessageToken()), std::string::npos) << seen;
}

TEST_F(PageTest, MissingPageLoadsBlankAndTheWindowStays) {
    EXPECT_FALSE(win->LoadPage(Page("no_such_page.htm")));
    EXPECT_TRUE(win->IsVisible());
    EXPECT_FALSE(win->IsClosed());
    EXPECT_EQ(win->page_file(), "no_such_page.htm");
    EXPECT_TRUE(ui::Element::Root(win->id()).Exists());
    EXPECT_EQ(win->Evaluate("document.body.innerHTML"), "");
    EXPECT_FALSE(El("t1").Exists());
}

// The user closes a window while a page loads into it: the load gives up at
// once (no wait for the load time-out with the UI frozen), and so do later
// reads and snapshots of the closed window.
TEST_F(PageTest, WindowClosedDuringALoadEndsTheWaitAtOnce) {
    // At high priority, so that the window goes before the engine's own
    // messages can finish the load on a busy machine.
    static void (*const destroy_soon)(GtkWidget*) = [](GtkWidget* w) {
        g_idle_add_full(
            G_PRIORITY_HIGH,
            +[](gpointer p) -> gboolean {
                gtk_widget_destroy(static_cast<GtkWidget*>(p));
                return G_SOURCE_REMOVE;
            },
            w, nullptr);
    };
    // Closed as the load begins, and closed once the new document is on its way.
    for (bool after_start : {false, true}) {
        ui::WindowOptions o;
        auto w = std::make_unique<ui::HostWindow>(o);
        ASSERT_TRUE(w->LoadPage(Page("events.htm")));
        w->Show();
        GtkWidget* gw = w->gtk_window();
        if (after_start) {
            g_signal_connect(w->web_view(), "load-changed",
                             G_CALLBACK(+[](WebKitWebView* v, WebKitLoadEvent ev, gpointer) {
                                 if (ev == WEBKIT_LOAD_STARTED) destroy_soon(gtk_widget_get_toplevel(GTK_WIDGET(v)));
                             }),
                             nullptr);
        } else {
            destroy_soon(gw);
        }
        gint64 start = g_get_monotonic_time();
        EXPECT_FALSE(w->LoadPage(Page("frame.htm"))) << after_start;
        EXPECT_TRUE(w->IsClosed()) << after_start;
        EXPECT_FALSE(w->SnapshotPng(::testing::TempDir() + "ui_engine_closed.png")) << after_start;
        EXPECT_FALSE(FindById(w->id(), "t1").Exists()) << after_start;
        EXPECT_LT((g_get_monotonic_time() - start) / 1000, 5000) << after_start;
    }
}

TEST_F(PageTest, SchemeServesOnlyTheProgramFolder) {
    // The style sheet under ../common was found and applied.
    EXPECT_EQ(win->Evaluate("String(document.styleSheets[0].cssRules.length)"), "2");
    EXPECT_EQ(ui::PageUrl(std::string(UI_TEST_PAGES) + "/ENG/a b.htm"), "app://local/ENG/a%20b.htm");
    // Each kind of file comes with its type.
    win->Evaluate(
        "window.__t='pending';Promise.all(['../common/dot.svg','../common/data.json','../common/x.js',"
        "'../common/dot.png','../common/test.css','frame.htm'].map(u=>fetch(u).then("
        "r=>r.headers.get('content-type')))).then(a=>{window.__t=a.join(' ')},e=>{window.__t='error'}); 1");
    ASSERT_TRUE(ui::RunLoopUntil([&] { return win->Evaluate("window.__t") != "pending"; }, 5000));
    EXPECT_EQ(win->Evaluate("window.__t"),
              "image/svg+xml application/json text/javascript image/png text/css text/html");
    // Nothing outside the served folder can be fetched.
    win->Evaluate(
        "window.__r='pending';fetch('app://local/../../engine_test.cpp').then("
        "r=>r.text()).then(t=>{window.__r='got '+t.length}, e=>{window.__r='refused'}); 1");
    ASSERT_TRUE(ui::RunLoopUntil([&] { return win->Evaluate("window.__r") != "pending"; }, 5000));
    EXPECT_EQ(win->Evaluate("window.__r"), "refused");
}

TEST_F(PageTest, SnapshotWritesAPng) {
    El("t1").SetText("snapshot");
    std::string path = ::testing::TempDir() + "ui_engine_snapshot_" + std::to_string(getpid()) + ".png";
    std::remove(path.c_str());
    ASSERT_TRUE(win->SnapshotPng(path));
    std::ifstream f(path, std::ios::binary);
    char sig[8] = {};
    f.read(sig, 8);
    EXPECT_EQ(std::string(sig + 1, 3), "PNG");
}

// Nothing in this process draws with GL: with a page shown, drawn and
// snapshotted, neither GDK nor WebKit has loaded the GL driver (on Mesa
// ~15 MB with its LLVM compiler, and a slower start).
TEST_F(PageTest, NoGlDriverIsLoadedIntoTheProgram) {
    El("t1").SetText("drawn");
    std::string path = ::testing::TempDir() + "ui_engine_nogl_" + std::to_string(getpid()) + ".png";
    ASSERT_TRUE(win->SnapshotPng(path));
    std::remove(path.c_str());
    std::ifstream maps("/proc/self/maps");
    std::string line;
    while (std::getline(maps, line)) {
        EXPECT_EQ(line.find("_dri.so"), std::string::npos) << line;
        EXPECT_EQ(line.find("libLLVM"), std::string::npos) << line;
    }
}

TEST_F(PageTest, RegistryListsLiveWindows) {
    auto find = [&](ui::WindowId id) {
        for (const auto& w : ui::ListWindows())
            if (w.id == id) return w;
        return ui::WindowInfo{};
    };
    ui::WindowInfo info = find(win->id());
    EXPECT_EQ(info.page_file, "events.htm");
    EXPECT_TRUE(info.visible);
    EXPECT_FALSE(info.modal);
    EXPECT_EQ(ui::FindWindow(win->id()), win.get());
    ui::WindowId id = win->id();
    win.reset();
    EXPECT_EQ(find(id).id, 0u);
    EXPECT_EQ(ui::FindWindow(id), nullptr);
}

}  // namespace

TEST_F(PageTest, EventsCarryTheClickedElementsAttributesAmongRepeatedIds) {
    // List cells repeat their ids: the attributes sent with the event and the
    // target handle both tell which one was clicked.
    El("list").AppendHtml("<li id=\"cell\" class=\"btnctrl\" objid=\"0\">a</li>");
    El("list").AppendHtml("<li id=\"cell\" class=\"btnctrl\" objid=\"1\" data-x='q\"'>b</li>");
    win->Evaluate("document.querySelectorAll(\"[id='cell']\")[1].click(); 1");
    win->Evaluate(
        "var s=document.getElementById('s1'); s.setAttribute('data-k','v'); s.value='b';"
        "s.dispatchEvent(new Event('change',{bubbles:true})); 1");
    ASSERT_TRUE(log.WaitCount(2));
    EXPECT_EQ(log.events[0].target_id, "cell");
    EXPECT_EQ(log.events[0].attributes, (std::map<std::string, std::string>{
                                            {"id", "cell"}, {"class", "btnctrl"}, {"objid", "1"}, {"data-x", "q\""}}));
    EXPECT_EQ(log.events[0].target.GetAttribute("objid"), "1");
    EXPECT_EQ(log.events[1].attributes.at("data-k"), "v");
}
