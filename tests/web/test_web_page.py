"""The web page in a real browser against the built ristova-run on the
simulated board: the login, the relays with their uses, a tap that reaches
the board, a refused tap, the run buttons, the history, the engine going
away and coming back, and the page at a phone's width.

Screenshots land in $RISTOVA_BUILD_DIR/web-screenshots/."""

import os
import sys
import time
import unittest

sys.dont_write_bytecode = True  # nothing written beside the sources
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import website  # noqa: E402
from website import wait_until  # noqa: E402

SHOTS = os.path.join(website.BUILD, "web-screenshots")


class WebPage(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        os.makedirs(SHOTS, exist_ok=True)
        # One action ahead, still today: the next actions have something to
        # show, and nothing switches during the test.
        website.clear_of_midnight()
        cls.due = min(website.day_second() + 3 * 3600, 86399)
        # Relay 4 of the board follows no command: the page frames it.
        cls.site = website.Site(rows=[(1, cls.due, True)], stuck=4)
        cls.site.start_runner()
        cls.driver = website.browser(1280, 800)

    @classmethod
    def tearDownClass(cls):
        website.close_browser(cls.driver)
        cls.site.close()

    def text(self, element_id):
        return self.driver.find_element("id", element_id).text

    def wait_text(self, element_id, wanted, timeout=15):
        got = wait_until(lambda: wanted in self.text(element_id), timeout)
        self.assertTrue(got, "%s says %r, not %r" % (element_id, self.text(element_id), wanted))

    def states(self):
        return [row[0] for row in website.relay_rows(self.driver)]

    def wait_states(self, wanted, timeout=15):
        got = wait_until(lambda: self.states() == wanted, timeout)
        self.assertTrue(got, "the relays show %r, not %r" % (self.states(), wanted))

    def test_1_a_wrong_token_is_refused_the_right_one_shows_the_relays(self):
        website.log_in(self.driver, self.site.url, "not-the-token")
        self.wait_text("loginError", "令牌错误")
        self.assertIsNone(website.visible(self.driver, "monitor"))
        # A wrong token makes the next wait a second before it is looked at.
        time.sleep(1.5)
        website.log_in(self.driver, self.site.url)
        self.assertTrue(wait_until(lambda: website.visible(self.driver, "monitor")),
                        self.text("loginError"))
        self.wait_states(["断开"] * 4)
        self.assertEqual([tuple(r[1:]) for r in website.relay_rows(self.driver)], website.USES)
        self.wait_text("link", "已连接")
        article = self.driver.find_element("css selector", "article.controller")
        self.assertIn(website.CONTROLLER, article.text)
        self.assertIn("通信状态:正常启动", article.text)
        self.assertIn("【运行计划表】计划表.tab", article.text)
        self.assertIn("%s 继电器1 接通 照明" % website.clock_text(self.due), article.text)
        # The cookie is the browser's to send, not the page's to read.
        self.assertEqual(self.driver.execute_script("return document.cookie"), "")
        self.driver.save_screenshot(os.path.join(SHOTS, "desktop-monitor.png"))

    def test_2_a_tap_reaches_the_board_and_the_page_shows_it(self):
        before = len(self.site.commands())
        button = self.driver.find_elements("css selector", "tr.relay button.switch")[1]
        tapped = time.monotonic()
        button.click()
        shown = wait_until(lambda: self.states()[1] == "接通", 10)
        elapsed = time.monotonic() - tapped
        self.assertTrue(shown, self.states())
        self.assertLess(elapsed, 2.0)
        self.assertIn(website.on_command(2), [c for _, c in self.site.commands()[before:]])
        self.assertEqual(self.states(), ["断开", "接通", "断开", "断开"])
        # Its contacts follow: the normally-open one closed.
        label = self.driver.find_elements("css selector", "tr.relay td.no")[1].get_attribute("aria-label")
        self.assertEqual(label, "常开触点 闭合 空调")

        # A relay that does not follow: framed red, and said in words.
        self.driver.find_elements("css selector", "tr.relay button.switch")[3].click()
        stuck = lambda: self.driver.find_elements(
            "css selector", "tr.relay[data-relay='4'] button.switch.mismatch")
        self.assertTrue(wait_until(stuck, 15), self.states())
        self.assertIn("未按指令动作", stuck()[0].get_attribute("aria-label"))
        outline = self.driver.execute_script(
            "return getComputedStyle(arguments[0].querySelector('svg')).outlineColor", stuck()[0])
        self.assertEqual(outline, "rgb(255, 0, 0)")
        self.assertEqual(self.states(), ["断开", "接通", "断开", "断开"])

    def test_3_the_history_draws_the_day(self):
        self.driver.find_element("id", "tabHistory").click()
        rows = wait_until(lambda: self.driver.find_elements("css selector", "#timeline g.relayRow"))
        self.assertEqual(len(rows), 4)
        # The tap of the test before, as a command tick of relay 2.
        titles = self.driver.execute_script(
            "return [...document.querySelectorAll('#timeline g.relayRow[data-relay=\"2\"] title')]"
            ".map((t) => t.textContent)")
        self.assertTrue(any("接通 接口 已发送" in t for t in titles), titles)
        self.assertIn("接口", self.driver.find_element("id", "events").text)
        self.driver.save_screenshot(os.path.join(SHOTS, "desktop-history.png"))
        # Another day, picked: its own (empty) journal, drawn again.
        self.driver.execute_script(
            "const d = document.getElementById('day'); d.value = '2020-02-29';"
            "d.dispatchEvent(new Event('change'));")
        self.wait_text("historyNote", "2020-02-29: 0条记录")
        self.assertEqual(self.driver.find_elements("css selector", "#events tbody tr"), [])
        self.assertEqual(len(self.driver.find_elements("css selector", "#timeline g.relayRow")), 4)
        self.driver.find_element("id", "tabMonitor").click()

    def test_4_the_run_buttons_stop_and_start(self):
        running = lambda: self.driver.find_element("css selector", "article .running").text
        self.driver.find_element("id", "btnStop").click()
        self.assertTrue(wait_until(lambda: running() == "已停止运行"), running())
        self.assertTrue(wait_until(lambda: self.driver.find_element("id", "btnRun").is_enabled()))
        self.driver.find_element("id", "btnRun").click()
        self.assertTrue(wait_until(lambda: running() == "运行中"), running())
        self.wait_states(["断开", "接通", "断开", "断开"])

    def test_5_a_phone_shows_everything_without_clipping(self):
        phone = website.browser(360, 740)
        try:
            website.log_in(phone, self.site.url)
            self.assertTrue(wait_until(lambda: len(website.relay_rows(phone)) == 4))
            self.assertTrue(wait_until(lambda: website.relay_rows(phone)[1][0] == "接通"))
            # Nothing wider than the screen, no text cut off at its edge.
            overflow = """
                const texts = [...document.querySelectorAll('#bar *, main *')]
                  .filter((e) => e.offsetParent && !e.closest('.tableBox, #timeline'));
                return [document.documentElement.scrollWidth,
                        texts.filter((e) => e.getBoundingClientRect().right > 360.5)
                             .map((e) => e.tagName + ' ' + e.className + ' ' + e.textContent)];"""
            width, outside = phone.execute_script(overflow)
            self.assertLessEqual(width, 360)
            self.assertEqual(outside, [])
            phone.save_screenshot(os.path.join(SHOTS, "phone-monitor.png"))
            phone.find_element("id", "tabHistory").click()
            self.assertTrue(wait_until(lambda: phone.find_elements("css selector", "#timeline svg")))
            width, outside = phone.execute_script(overflow)
            self.assertLessEqual(width, 360)
            self.assertEqual(outside, [])
            phone.save_screenshot(os.path.join(SHOTS, "phone-history.png"))
        finally:
            website.close_browser(phone)

    def test_6_the_engine_goes_away_and_comes_back_with_manual_switching_off(self):
        self.site.stop_runner()
        self.wait_text("link", "与程序的连接已断开")
        # Every state grey and unknown while the engine is away.
        self.wait_states(["状态未知"] * 4)
        self.assertEqual(len(self.driver.find_elements("css selector", "tr.relay.unknown")), 4)
        self.driver.save_screenshot(os.path.join(SHOTS, "desktop-disconnected.png"))

        self.site.set_manual(False)
        self.site.start_runner()
        # No reload and no login: the page finds the engine again.
        self.wait_text("link", "已连接", 20)
        self.wait_states(["断开", "接通", "断开", "断开"], 20)
        before = len(self.site.commands())
        self.driver.find_elements("css selector", "tr.relay button.switch")[0].click()
        self.wait_text("notice", "不允许手动操作")
        self.assertNotIn(website.on_command(1), [c for _, c in self.site.commands()[before:]])

    def test_7_a_logout_ends_the_session(self):
        self.driver.find_element("id", "btnLogout").click()
        self.assertTrue(wait_until(lambda: website.visible(self.driver, "token")))
        self.driver.get(self.site.url)
        self.assertTrue(wait_until(lambda: website.visible(self.driver, "token")))
        self.assertIsNone(website.visible(self.driver, "monitor"))


if __name__ == "__main__":
    unittest.main(verbosity=2)
