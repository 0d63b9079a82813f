// The real Home window: WebKitGTK under the headless X server, the bundled
// pages, the page bridge in both directions and the navigation limit.
#include <gtest/gtest.h>
#include <gtk/gtk.h>

#include <nlohmann/json.hpp>

#include "integration/DesktopTest.h"
#include "linux/home/WebKitHomeWindow.h"
#include "support/MainLoop.h"

namespace velvox::testing {
namespace {

using Json = nlohmann::json;
const std::string kPages = VELVOX_SOURCE_DIR "/resources";

class WebKitHomeWindowTest : public DesktopTest {
  protected:
    static void SetUpTestSuite() {
        ::setenv("WEBKIT_DISABLE_COMPOSITING_MODE", "1", 1);
        ::setenv("WEBKIT_DISABLE_DMABUF_RENDERER", "1", 1);
        ASSERT_TRUE(gtk_init_check(nullptr, nullptr)) << "no display";
    }
    void TearDown() override {
        window.reset();
        DesktopTest::TearDown();
    }

    // A window on a bundled page; messages the page posts are collected.
    void open(const std::string& page) {
        loaded = false;
        window = std::make_unique<WebKitHomeWindow>(
            kPages, home() + "/geometry.json",
            [&](const std::string& uri) { opened.push_back(uri); });
        events.finishedLoading = [this] { loaded = true; };
        events.message = [this](const std::string& body) { messages.push_back(Json::parse(body)); };
        events.closed = [this] { ++closed; };
        window->setEvents(events);
        window->present();
        window->loadPage(kPages + "/" + page);
        ASSERT_TRUE(spinUntil([&] { return loaded; }));
    }
    std::optional<std::string> evaluate(const std::string& script) {
        bool done = false;
        std::optional<std::string> answer;
        window->evaluateForResult(script, [&](std::optional<std::string> result) {
            answer = std::move(result);
            done = true;
        });
        EXPECT_TRUE(spinUntil([&] { return done; })) << script;
        return answer;
    }

    std::unique_ptr<WebKitHomeWindow> window;
    WebViewEvents events;
    std::vector<std::string> opened;
    std::vector<Json> messages;
    bool loaded = false;
    int closed = 0;
};

TEST_F(WebKitHomeWindowTest, SettingsPageRendersPushesPostsAndStaysOnItsPages) {
    open("settings.html");
    // A pushed state reaches the page's DOM; script errors come back as errors.
    window->evaluate(
        R"(window.orvoLive && window.orvoLive({"status":"Bridge check 4711","mic":true,"ax":true,"tap":true,"hasKey":true,"ready":true}))",
        [](const std::string& error) { ADD_FAILURE() << error; });
    EXPECT_EQ(evaluate("document.body.innerText.includes('Bridge check 4711')"), "true");
    std::string failure;
    window->evaluate("definitelyNotDefined()", [&](const std::string& error) { failure = error; });
    EXPECT_TRUE(spinUntil([&] { return !failure.empty(); }));
    // An action posted by the page arrives as JSON text.
    messages.clear();
    evaluate("Velvox.post('saveVocabulary', {list: ['Velvox', 'Zyx']}); true");
    ASSERT_TRUE(spinUntil([&] { return !messages.empty(); }));
    EXPECT_EQ(messages.back(),
              Json::parse(R"({"list":["Velvox","Zyx"],"action":"saveVocabulary"})"));
    // One title bar: the window's header bar, none of the page's own strip.
    EXPECT_EQ(gtk_window_get_titlebar(GTK_WINDOW(window->window())), window->titleBar());
    EXPECT_EQ(evaluate("getComputedStyle(document.getElementById('titlebar')).display"),
              "\"none\"");
    // Another site opens in the browser, not in the window.
    std::string before = window->currentURI();
    evaluate("location.href = 'https://example.com/elsewhere'; true");
    ASSERT_TRUE(spinUntil([&] { return !opened.empty(); }));
    EXPECT_EQ(opened.back(), "https://example.com/elsewhere");
    EXPECT_EQ(window->currentURI(), before);
    // Closing hides and reports; the size is kept for the next run.
    window->hide();
    EXPECT_EQ(closed, 1);
    EXPECT_FALSE(window->isVisible());
    EXPECT_GE(Json::parse(readFile(home() + "/geometry.json"), nullptr, false).value("width", 0),
              900);
}

// Every push the page tests send in Chromium, replayed in WebKitGTK as the
// program sends them, on both pages: no script fails, nothing reaches the
// page's error log, no pushed text runs as script, nothing leaves the bundled files.
TEST_F(WebKitHomeWindowTest, ThePageTestsPushesRunInWebKitWithoutAScriptError) {
    const std::string fixtures = readFile(VELVOX_SOURCE_DIR "/tests/pages/fixtures.js");
    const std::string recorded = readFile(VELVOX_SOURCE_DIR "/tests/pages/pushes.json");
    ASSERT_FALSE(fixtures.empty() || recorded.empty());
    for (const std::string page : {"onboarding", "settings"}) {
        SCOPED_TRACE(page);
        opened.clear();
        open(page + ".html");
        std::vector<std::string> failures;
        // What a view throws is caught by the bridge and written to the console.
        evaluate(R"(window.__errors = [];
            const report = console.error.bind(console);
            console.error = (...parts) => { window.__errors.push(parts.map(String).join(' ')); report(...parts); };
            window.addEventListener('error', (event) => window.__errors.push(event.message));
            document.addEventListener('securitypolicyviolation',
                (event) => window.__errors.push('refused ' + event.blockedURI));
            true)");
        // The bundled scripts ran under the page's Content-Security-Policy.
        EXPECT_EQ(evaluate("typeof window.Velvox + typeof window.Widgets"), "\"objectobject\"");
        // fixtures.js is a Node module that requires the recorded pushes.
        auto pushes =
            evaluate("JSON.stringify((function (module, require) {\n" + fixtures +
                     "\nreturn module.exports;\n})({}, () => (" + recorded + ")).pushes())");
        ASSERT_TRUE(pushes);
        auto list = Json::parse(Json::parse(*pushes).get<std::string>());
        ASSERT_GE(list.size(), 20u);
        for (const auto& push : list) {
            std::string name = "window." + push[0].get<std::string>();
            std::string argument =
                push[1].is_string() ? push[1].get<std::string>() : push[1].dump();
            window->evaluate(
                name + " && " + name + "(" + argument + ")",
                [&, name](const std::string& error) { failures.push_back(name + ": " + error); });
        }
        EXPECT_EQ(evaluate("JSON.stringify(window.__errors)"), "\"[]\"");
        EXPECT_EQ(evaluate("String(window.__pwned)"), "\"undefined\"");
        EXPECT_EQ(failures, std::vector<std::string>{});
        EXPECT_EQ(opened, std::vector<std::string>{});
    }
}

}  // namespace
}  // namespace velvox::testing
