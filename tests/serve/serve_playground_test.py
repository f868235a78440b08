#!/usr/bin/python3
"""The playground page of tesq serve in a real browser (headless Chromium over
the DevTools protocol): a query typed key by key and one given in the page
address, the XML on demand, an abstract typed in and its highlights, the tag
shown on hover and by the arrow keys, errors marked at their character, the
curl commands run and their answers compared, a text sent in pieces (and in
smaller pieces under a small body limit) against the whole text in one
request, and the phone width. Every expectation is the endpoints' own JSON,
fetched here. Screenshots go to ARTEFACT_DIR.

usage: serve_playground_test.py TESQ DATA_DIR ARTEFACT_DIR
"""
import json
import os
import shutil
import subprocess
import sys
import unittest
import urllib.parse

import serve_support as ss

TESQ = DATA_DIR = ARTEFACTS = ""
Browser = None

QUERY = "张三丰大学 清华大学 1234-5679 11-1234/G 9787111123453 计算机科学 数据"
ABSTRACT = ("本文研究城市交通网络的演化。王小明与李华在北京大学完成了数据采集，并在上海交通大学进行了对比实验。\n"
            "结果表明，张伟提出的方法在南京和广州的测试中均优于传统方法。\n"
            "该工作得到清华大学计算机系的支持。")
NAME_KINDS = {"person", "place", "organisation"}

# The kind of a label, written here from the labels the library gives.
LABEL_KINDS = {"人名": "person", "机构名": "organisation", "基金": "fund", "地名": "place", "全文": "fulltext",
               "ISBN": "number", "ISSN": "number", "CN": "number", "专利号": "number"}

CHIPS_JS = """[...document.querySelectorAll('#chips > li')].map(li => ({
  index: Number(li.dataset.index), split: li.classList.contains('split'),
  chips: [...li.querySelectorAll('.chip')].map(c => [c.dataset.word, c.dataset.label, c.className,
                                                      c.querySelector('.l').textContent])}))"""
MARKS_JS = """[...document.querySelectorAll('#essay-out mark')].map(m => [Number(m.dataset.w), m.className, m.textContent])"""
COUNTS_JS = """Object.fromEntries([...document.querySelectorAll('#counts [data-kind]')].map(s => [s.dataset.kind,
  Number(s.textContent)]))"""
DONE_JS = """document.getElementById('essay-out').getAttribute('aria-busy') === 'false' &&
  /^\\d+ words:/.test(document.getElementById('essay-status').textContent)"""
# The centre of character C of the essay on screen, found from the blocks'
# own character offsets, scrolled into view first.
CHAR_POINT_JS = """(function (c) {
  let p = null;
  for (const q of document.querySelectorAll('#essay-out .p')) if (Number(q.dataset.c) <= c) p = q;
  const walker = document.createTreeWalker(p, NodeFilter.SHOW_TEXT);
  let left = c - Number(p.dataset.c);
  for (let t = walker.nextNode(); t; t = walker.nextNode()) {
    if (left < t.length) {
      t.parentElement.scrollIntoView({block: 'center'});
      const r = document.createRange(); r.setStart(t, left); r.setEnd(t, left + 1);
      const b = r.getBoundingClientRect();
      return [b.left + b.width / 2, b.top + b.height / 2];
    }
    left -= t.length;
  }
  return null;
})(%d)"""


def char_index(text, byte_offset):
    """The index of the character of `text` that holds UTF-8 byte `byte_offset`."""
    return len(text.encode("utf-8")[:byte_offset].decode("utf-8", "ignore"))


def expected_chips(items):
    groups = []
    for item in items:
        if not groups or groups[-1]["index"] != item["word_index"]:
            groups.append({"index": item["word_index"], "chips": []})
        kind = LABEL_KINDS.get(item["label"], "term")
        groups[-1]["chips"].append([item["word"], item["label"], "chip k-" + kind, item["label"]])
    for g in groups:
        g["split"] = len(g["chips"]) > 1
    return groups


def expected_marks(words):
    return [[i, "k-" + w["tag_name"], w["text"]] for i, w in enumerate(words) if w["tag_name"] in NAME_KINDS]


def expected_counts(words):
    counts = {k: 0 for k in NAME_KINDS}
    for w in words:
        if w["tag_name"] in NAME_KINDS:
            counts[w["tag_name"]] += 1
    counts["words"] = len(words)
    return counts


class Playground(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.server = ss.Server(TESQ, DATA_DIR, "--no-trace")
        cls.url = "http://127.0.0.1:%d" % cls.server.port
        cls.browser = Browser(CHROMIUM)

    @classmethod
    def tearDownClass(cls):
        cls.browser.close()
        status = cls.server.stop()
        shutil.rmtree(cls.server.workdir, ignore_errors=True)
        assert status == 0, status

    def search_json(self, q, server=None):
        return (server or self.server).post_json("/v1/search", {"q": q, "format": "json"})

    def essay_json(self, text, server=None):
        status, _, body = (server or self.server).request("POST", "/v1/essay", text.encode("utf-8"),
                                                          {"Content-Type": "text/plain; charset=utf-8"})
        return status, json.loads(body)

    def wait_chips(self, items):
        want = expected_chips(items)
        self.assertEqual(self.browser.wait_value(CHIPS_JS, want, timeout=15), want)

    def replace_essay(self, text):
        self.browser.evaluate("document.getElementById('essay').focus(); document.getElementById('essay').select()")
        self.browser.call("Input.insertText", text=text)

    def test_1_query_typed_with_the_keyboard_alone_shows_the_chips(self):
        b = self.browser
        b.navigate(self.url + "/")
        for _ in range(5):  # the query box is the first stop of the Tab key
            b.press("Tab", key_code=9)
            if b.evaluate("document.activeElement.id") == "query":
                break
        self.assertEqual(b.evaluate("document.activeElement.id"), "query")
        b.type_text(QUERY)
        status, answer = self.search_json(QUERY)
        self.assertEqual(status, 200)
        self.wait_chips(answer["items"])
        chips = b.evaluate(CHIPS_JS)
        self.assertTrue(any(g["split"] for g in chips), "the query has a word split into a name and its rest")
        self.assertEqual(len({c[2] for g in chips for c in g["chips"]}), 5, "five kinds of chip")
        # The address carries the query, so that it can be shared.
        self.assertEqual(urllib.parse.parse_qs(b.evaluate("location.search")[1:]), {"q": [QUERY]})
        # The XML document, on demand.
        status, _, xml = self.server.request("POST", "/v1/search", json.dumps({"q": QUERY, "format": "xml"}).encode(),
                                             {"Content-Type": "application/json"})
        self.assertEqual(status, 200)
        self.assertEqual(b.evaluate("document.getElementById('xml').textContent"), "")
        b.evaluate("document.querySelector('#xml-details summary').click()")
        b.wait_for("document.getElementById('xml').textContent === %s" % json.dumps(xml.decode("utf-8")))

    def test_2_query_in_the_address_is_analysed_on_load(self):
        q = "9787111123453 王小明"
        self.browser.navigate(self.url + "/playground?q=" + urllib.parse.quote(q))
        self.assertEqual(self.browser.evaluate("document.getElementById('query').value"), q)
        self.wait_chips(self.search_json(q)[1]["items"])

    def test_3_character_without_gb2312_form_is_marked_with_the_services_message(self):
        b = self.browser
        q = "计算机 ab€c"
        b.navigate(self.url + "/")
        b.evaluate("document.getElementById('query').focus()")
        b.type_text(q)
        status, answer = self.search_json(q)
        self.assertEqual((status, answer["error"]["code"]), (400, "no_gb2312_form"))
        b.wait_for("!document.getElementById('query-error').hidden && "
                   "document.querySelector('#query-error .msg').textContent === %s" % json.dumps(answer["error"]["message"]))
        self.assertEqual(b.evaluate("document.querySelector('#query-error mark.bad').dataset.index"),
                         str(char_index(q, answer["error"]["offset"])))
        self.assertEqual(b.evaluate("document.querySelector('#query-error mark.bad').firstChild.textContent"), "€")
        self.assertEqual(b.evaluate("document.getElementById('query').getAttribute('aria-invalid')"), "true")
        self.assertEqual(b.evaluate("document.querySelectorAll('#chips li').length"), 0)
        # Mended, the error goes and the chips come.
        b.press("End", key_code=35)
        b.press("Backspace", key_code=8)
        b.press("Backspace", key_code=8)
        self.wait_chips(self.search_json("计算机 ab")[1]["items"])
        self.assertTrue(b.evaluate("document.getElementById('query-error').hidden"))

    def test_4_abstract_typed_in_shows_its_names_by_kind_and_every_tag(self):
        b = self.browser
        b.navigate(self.url + "/?q=" + urllib.parse.quote(QUERY))
        b.evaluate("document.getElementById('essay').focus()")
        b.type_text(ABSTRACT)
        status, answer = self.essay_json(ABSTRACT)
        self.assertEqual(status, 200)
        words = answer["words"]
        b.wait_for(DONE_JS + " && document.getElementById('essay').value.length === %d" % len(ABSTRACT))
        b.wait_for(DONE_JS)
        self.assertEqual(b.evaluate(MARKS_JS), expected_marks(words))
        self.assertEqual(b.evaluate(COUNTS_JS), expected_counts(words))
        self.assertEqual({m[1] for m in expected_marks(words)}, {"k-person", "k-place", "k-organisation"})
        # Hover: the tag of a word that is not a name, then of a name.
        plain = next(i for i, w in enumerate(words) if w["tag_name"] not in NAME_KINDS and len(w["text"]) > 1)
        name = next(i for i, w in enumerate(words) if w["tag_name"] in NAME_KINDS)
        for i in (plain, name):
            w = words[i]
            x, y = b.evaluate(CHAR_POINT_JS % w["char_start"])
            b.move_mouse(x, y)
            b.wait_for("!document.getElementById('tip').hidden && document.getElementById('tip').dataset.w === '%d'" % i)
            self.assertEqual(b.evaluate("document.getElementById('tip').textContent"),
                             "%s \u2014 %s (%d)" % (w["text"], w["tag_name"], w["tag"]))
        b.move_mouse(x, y)
        b.screenshot(os.path.join(ARTEFACTS, "playground.png"))
        b.move_mouse(1, 1)
        # The keyboard: from the text box to the essay by Tab, then the arrows.
        b.evaluate("document.getElementById('essay').focus()")
        for _ in range(3):
            b.press("Tab", key_code=9)
        self.assertEqual(b.evaluate("document.activeElement.id"), "essay-out")
        for _ in range(3):
            b.press("ArrowRight", key_code=39)
        w = words[2]
        self.assertEqual(b.evaluate("document.getElementById('word-info').textContent"),
                         "Word 3 of %d: %s \u2014 %s (%d)" % (len(words), w["text"], w["tag_name"], w["tag"]))
        b.press("End", key_code=35)
        self.assertTrue(b.evaluate("document.getElementById('word-info').textContent")
                        .startswith("Word %d of %d" % (len(words), len(words))))

    def test_5_curl_commands_give_what_is_on_screen(self):
        b = self.browser
        b.evaluate("document.getElementById('curl-toggle').click()")
        b.wait_for("document.querySelectorAll('#curl pre').length === 3")
        commands = b.evaluate("Object.fromEntries([...document.querySelectorAll('#curl pre')]"
                              ".map(p => [p.dataset.curl, p.textContent]))")
        self.assertEqual(sorted(commands), ["essay", "query-json", "query-xml"])

        def run(command):
            r = subprocess.run(["bash", "-c", command], stdout=subprocess.PIPE, timeout=30, check=True)
            return r.stdout.decode("utf-8")

        shown_q = b.evaluate("document.getElementById('query').value")
        shown_text = b.evaluate("document.getElementById('essay').value")
        self.assertEqual((shown_q, shown_text), (QUERY, ABSTRACT))
        self.assertEqual(json.loads(run(commands["query-json"])), self.search_json(shown_q)[1])
        status, _, xml = self.server.request("POST", "/v1/search", json.dumps({"q": shown_q, "format": "xml"}).encode(),
                                             {"Content-Type": "application/json"})
        self.assertEqual((status, run(commands["query-xml"])), (200, xml.decode("utf-8")))
        self.assertEqual(json.loads(run(commands["essay"])), self.essay_json(shown_text)[1])

    def test_6_essay_error_is_marked_at_its_character(self):
        b = self.browser
        text = "第一行没有问题。\n第二行有一个€符号。"
        self.replace_essay(text)
        status, answer = self.essay_json(text)
        self.assertEqual((status, answer["error"]["code"]), (400, "no_gb2312_form"))
        b.wait_for("!document.getElementById('essay-error').hidden && "
                   "document.querySelector('#essay-error .msg').textContent === %s" % json.dumps(answer["error"]["message"]))
        self.assertEqual(b.evaluate("document.querySelector('#essay-error mark.bad').dataset.index"),
                         str(char_index(text, answer["error"]["offset"])))
        self.assertEqual(b.evaluate("document.querySelector('#essay-error mark.bad').firstChild.textContent"), "€")
        self.assertIn("line 2, column 7", b.evaluate("document.querySelector('#essay-error').textContent"))
        self.assertEqual(b.evaluate("document.querySelectorAll('#essay-out mark').length"), 0)
        self.assertTrue(b.evaluate("document.getElementById('counts').hidden"))

    def test_7_text_sent_in_pieces_shows_the_words_of_the_whole(self):
        b = self.browser
        text = "\n".join("%d. %s" % (i, ABSTRACT.replace("\n", "")) for i in range(900))
        self.assertGreater(len(text.encode("utf-8")), 3 * 64 * 1024)
        status, answer = self.essay_json(text)
        self.assertEqual(status, 200)
        self.replace_essay(text)
        b.wait_for(DONE_JS, timeout=30)
        self.assertRegex(b.evaluate("document.getElementById('essay-status').textContent"), r"[4-9] requests")
        self.assertEqual(b.evaluate(COUNTS_JS), expected_counts(answer["words"]))
        self.assertEqual(b.evaluate(MARKS_JS), expected_marks(answer["words"]))

    def test_7b_a_long_paste_is_held_by_the_page_and_shown(self):
        b = self.browser
        text = "\n".join("%d. %s" % (i, ABSTRACT.replace("\n", "")) for i in range(1500))
        self.assertGreater(len(text), 100000)
        status, answer = self.essay_json(text)
        self.assertEqual(status, 200)
        b.evaluate("""(function (text) {
          const box = document.getElementById('essay'), data = new DataTransfer();
          data.setData('text/plain', text);
          box.focus();
          box.dispatchEvent(new ClipboardEvent('paste', {clipboardData: data, bubbles: true, cancelable: true}));
          return true;
        })(%s)""" % json.dumps(text))
        b.wait_for(DONE_JS, timeout=30)
        self.assertFalse(b.evaluate("document.getElementById('essay-held').hidden"))
        self.assertEqual(b.evaluate("document.getElementById('essay').value"), "")
        self.assertEqual(b.evaluate(COUNTS_JS), expected_counts(answer["words"]))
        self.assertEqual(b.evaluate(MARKS_JS), expected_marks(answer["words"]))
        b.evaluate("document.getElementById('essay-held-edit').click()")
        self.assertEqual(b.evaluate("document.getElementById('essay').value"), text)
        self.assertTrue(b.evaluate("document.getElementById('essay-held').hidden"))

    def test_8_a_small_body_limit_makes_the_page_cut_smaller_pieces(self):
        small = ss.Server(TESQ, DATA_DIR, "--no-trace", "--max-body", "4096")
        try:
            b = self.browser
            b.navigate("http://127.0.0.1:%d/" % small.port)
            text = "\n".join(ABSTRACT for _ in range(60))
            self.assertGreater(len(text.encode("utf-8")), 3 * 4096)
            self.assertEqual(self.essay_json(text, small)[0], 413)
            status, answer = self.essay_json(text)
            self.replace_essay(text)
            b.wait_for(DONE_JS, timeout=30)
            self.assertEqual(b.evaluate(COUNTS_JS), expected_counts(answer["words"]))
            self.assertEqual(b.evaluate(MARKS_JS), expected_marks(answer["words"]))
        finally:
            self.assertEqual(small.stop(), 0)
            shutil.rmtree(small.workdir, ignore_errors=True)

    def test_9_phone_width_has_no_sideways_scroll(self):
        b = self.browser
        b.set_viewport(390, 844, mobile=True)
        try:
            b.navigate(self.url + "/?q=" + urllib.parse.quote(QUERY))
            self.wait_chips(self.search_json(QUERY)[1]["items"])
            self.replace_essay(ABSTRACT)
            b.wait_for(DONE_JS)
            self.assertLessEqual(b.evaluate("document.documentElement.scrollWidth"), b.evaluate("window.innerWidth"))
            # Blocks off screen are not laid out, so the picture is of the screen with the essay on it.
            b.evaluate("document.getElementById('counts').scrollIntoView({block: 'start'})")
            b.wait_for("document.querySelector('#essay-out .p').getBoundingClientRect().height > 0")
            b.screenshot(os.path.join(ARTEFACTS, "playground-phone.png"), full_page=False)
        finally:
            b.call("Emulation.clearDeviceMetricsOverride")


if __name__ == "__main__":
    if len(sys.argv) != 4:
        print(__doc__)
        raise SystemExit(2)
    TESQ, DATA_DIR = ss.args_or_skip(sys.argv[:3], __doc__)
    ARTEFACTS = os.path.abspath(sys.argv[3])
    # Only a machine without the browser skips; with it, a missing DevTools
    # client (python3-websocket) fails the test as a fault of the setup.
    import browser_support
    CHROMIUM = browser_support.find_chromium()
    if CHROMIUM is None:
        print("chromium is not installed (looked for %s; scripts/setup.sh installs Debian chromium): "
              "the playground's browser test is skipped" % ", ".join(browser_support.CHROMIUM_NAMES))
        raise SystemExit(ss.SKIP)
    Browser = browser_support.Browser
    os.makedirs(ARTEFACTS, exist_ok=True)
    unittest.main(argv=sys.argv[:1], verbosity=2)
