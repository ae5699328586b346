"""Golden reports: whole reports and single steps written out as literal text, so that any change to a line of
the report fails deterministically. Every case runs on the native report and on the generic one, forced both by
replacing the module's `re` and by a subclass that overrides one step with a plain call of the original; the
whole reports also on the plain-Python writer of bench/."""

import re
import types

import pytest

from reliability_support import Generic, ReferenceWriter
from tavik.amazon_rufus.services import rundown_writer
from tavik.amazon_rufus.services.rundown_writer import RundownWriter

MODULE_PATHS = ["native", "generic-re", "generic-subclass"]

# The worked example of a link list.
LINKS = [
    "  B000000003  ",
    {"asin": "B000000001", "title": "Trail jacket", "href": "/dp/B000000001", "source": "similar",
     "description": "Packs into its own pocket"},
    {"href": "/dp/B000000002"},
    {"source": "similar"},
    None,
]


@pytest.fixture(params=[*MODULE_PATHS, "reference"])
def path(request, monkeypatch):
    if request.param == "generic-re":
        monkeypatch.setattr(rundown_writer, "re", types.SimpleNamespace(match=re.match))
    return request.param


@pytest.fixture
def writer(path):
    return {"generic-subclass": Generic, "reference": ReferenceWriter}.get(path, RundownWriter)()


# -- Small records, one rule or one group of rules each. ----------------------------------------------

WATERPROOF = {
    "productLinks": [{"asin": "B000000001", "title": "Trail jacket", "href": "/dp/B000000001"}],
    "summaryText": "  Waterproof to 10,000 mm.  ",
    "text": "Yes, it is.",
    "recommendedAsins": ["B000000002"],
}

WATERPROOF_SECTION = """## 第 2 题：Is it waterproof?

### 相关产品

- B000000001 - Trail jacket
  /dp/B000000001

### 答案

Yes, it is.

### 推荐 ASIN

- B000000002

### 总结

Waterproof to 10,000 mm."""

FAMILIES_TEXT = "Intro\n\n## Pros\n- fast\n- light\n| a | b |\n| --- | --- |\n| 1 | 2 |"


def answers(*items):
    return {"answers": list(items)}


def rows(*cell_lists):
    return [{"type": "table_row", "cells": list(cells)} for cells in cell_lists]


REPORTS = [
    pytest.param({}, "", id="no-answers"),
    pytest.param({"answers": [], "questions": ["q"]}, "", id="empty-answers"),
    pytest.param({"answers": "x", "questions": ["q"]}, "", id="answers-not-a-list"),
    pytest.param(
        {"questions": ["Does it pack small?", "Is it waterproof?"],
         "answers": [{"summaryText": "It does."}, WATERPROOF]},
        """## 第 1 题：Does it pack small?

### 总结

It does.

## 第 2 题：Is it waterproof?

### 相关产品

- B000000001 - Trail jacket
  /dp/B000000001

### 答案

Yes, it is.

### 推荐 ASIN

- B000000002

### 总结

Waterproof to 10,000 mm.""",
        id="section-layout",
    ),
    pytest.param(
        answers({"productLinks": LINKS, "recommendedAsins": LINKS}),
        """## 第 1 题：第 1 题

### 相关产品

- B000000003
- B000000001 - Trail jacket
  /dp/B000000001
  Packs into its own pocket
- /dp/B000000002
  /dp/B000000002

### 答案

第 1 题未获取到答案

### 推荐 ASIN

- B000000003
- B000000001 - Trail jacket (similar)
  /dp/B000000001
  Packs into its own pocket
- /dp/B000000002
  /dp/B000000002
- (similar)""",
        id="link-lists",
    ),
    pytest.param(
        answers({"text": FAMILIES_TEXT}),
        """## 第 1 题：第 1 题

### 答案

Intro

#### Pros

- fast
- light

| a | b |
| --- | --- |
| 1 | 2 |""",
        id="text-through-block-families",
    ),
    pytest.param(
        {
            "questions": ["  ", {"question": "Which size?"}, {"question": "  ", "text": "hidden"},
                          {"question": 0, "text": "From text"}, {"question": 12}, None, 3, ["x"]],
            "answers": [
                {},
                {"summaryText": "  S  "},
                {"isSuccess": False, "blocks": [{"type": "paragraph", "text": "hidden"}]},
                {"isSuccess": False, "text": "Still shown", "summaryText": "   "},
                {"isSuccess": 0, "summaryText": None},
            ],
        },
        """## 第 1 题：Which size?

### 答案

第 1 题未获取到答案

## 第 2 题：From text

### 总结

S

## 第 3 题：12

### 答案

第 3 题未获取到答案

## 第 4 题：第 4 题

### 答案

Still shown

## 第 5 题：第 5 题

### 答案

第 5 题未获取到答案""",
        id="questions-and-failures",
    ),
    pytest.param(
        {"questions": ["  "],
         "upload_payload": {"records": [{"questions": ["From the payload"]}, {"questions": ["x"]}]},
         "answers": [{"text": "A"}, {"text": "B"}]},
        "## 第 1 题：From the payload\n\n### 答案\n\nA\n\n## 第 2 题：第 2 题\n\n### 答案\n\nB",
        id="questions-from-payload",
    ),
    pytest.param(
        {"upload_payload": {"records": [None, {"questions": ["never"]}]}, "answers": [{"text": "A"}]},
        "## 第 1 题：第 1 题\n\n### 答案\n\nA",
        id="only-the-first-payload-record",
    ),
    pytest.param(
        answers(
            {"blocks": [{"type": "list_item", "text": "a"}, {"type": "list_item", "text": "b"},
                        {"type": "paragraph", "text": "p"}, {"type": "list_item", "text": "c"}]},
            {"blocks": [{"type": "list_item", "text": "a"}, {"type": "list_item", "text": "b"},
                        {"type": "divider", "text": "p"}, {"type": "list_item", "text": " "},
                        {"type": "list_item", "text": "c"}]},
            {"blocks": rows(("H1", "H2"), ("1",), ("2", "3", "4"))},
            {"blocks": rows(("a", "b")), "text": "ignored"},
            {"text": "| a | b |\n| --- | --- |"},
            {"blocks": rows(("r1", "x"), ("r2", "y")) + [{"type": "heading", "text": "H"}] + rows(("r3", "z"))},
            {"blocks": rows(("a", "b"), ("c", "d")) + [{"type": "table_row", "text": "just words"}] + rows(("e", "f"))},
            {"blocks": [{"type": "list_item", "text": "l"}, {"type": "table_row"}, {"type": "list_item", "text": "m"}]},
            {"blocks": [{"type": "heading", "text": "  Price  ", "level": level}
                        for level in (0, -5, 9, "3", 2.5, None, True, 4)]},
            {"blocks": [{"type": "image", "text": "i"}, {"type": "paragraph", "text": "  "}, "x"], "text": "Hello"},
            {"blocks": ({"type": "paragraph", "text": "tuple"},), "text": "Hello"},
        ),
        """## 第 1 题：第 1 题

### 答案

- a
- b

p

- c

## 第 2 题：第 2 题

### 答案

- a
- b
- c

## 第 3 题：第 3 题

### 答案

| H1 | H2 |
| --- | --- |
| 1 |  |
| 2 | 3 | 4 |

## 第 4 题：第 4 题

### 答案

a | b

## 第 5 题：第 5 题

### 答案

a | b

## 第 6 题：第 6 题

### 答案

| r1 | x |
| --- | --- |
| r2 | y |

#### H

r3 | z

## 第 7 题：第 7 题

### 答案

| a | b |
| --- | --- |
| c | d |

just words

e | f

## 第 8 题：第 8 题

### 答案

- l

- m

## 第 9 题：第 9 题

### 答案

### Price

### Price

###### Price

#### Price

#### Price

#### Price

### Price

###### Price

## 第 10 题：第 10 题

### 答案

Hello

## 第 11 题：第 11 题

### 答案

Hello""",
        id="structured-assembly",
    ),
    pytest.param(
        answers(
            {"text": "Intro\n\n## Pros\n- fast\n  and light\n1. cheap\n| a | b |\n| --- | --- |\n| 1 | 2 |\nClosing"},
            {"text": "Before\n```\nx = 1\n\n# not a heading\n```\nAfter"},
            {"text": "```\ncode"},
            {"text": "- item\n\n  more"},
            {"text": "- item\nplain\n  tail"},
            {"text": "# Title\n  indented"},
            {"text": "| a | b |\nplain"},
            {"text": "First line\n  second line   \nthird"},
            {"text": "a\r\nb\rc\n"},
            {"text": "| a | b |\n| --- | --- |\n| 1 | 2 |\n\n| c | d |\n| --- | --- |\n| 3 | 4 |"},
            {"text": "| a | b |\n| --- | --- |\n| 1 | 2 |\n| c | d |\n| --- | --- |\n| 3 | 4 |"},
        ),
        """## 第 1 题：第 1 题

### 答案

Intro

#### Pros

- fast and light
- cheap

| a | b |
| --- | --- |
| 1 | 2 |

Closing

## 第 2 题：第 2 题

### 答案

Before
```
x = 1

# not a heading
```
After

## 第 3 题：第 3 题

### 答案

```
code

## 第 4 题：第 4 题

### 答案

- item more

## 第 5 题：第 5 题

### 答案

- item tail

plain

## 第 6 题：第 6 题

### 答案

### Title

indented

## 第 7 题：第 7 题

### 答案

| a | b |
plain

## 第 8 题：第 8 题

### 答案

First line
  second line
third

## 第 9 题：第 9 题

### 答案

a
b
c

## 第 10 题：第 10 题

### 答案

| a | b |
| --- | --- |
| 1 | 2 |
| c | d |
| 3 | 4 |

## 第 11 题：第 11 题

### 答案

| a | b |
| --- | --- |
| 1 | 2 |
| c | d |

| --- | --- |
| 3 | 4 |""",
        id="text-walk",
    ),
    pytest.param(
        answers({"summaryText": "a\n\n\n  \nb  \n\n\t\n\u3000\nc\u3000\u3000\r\nd\re"}),
        "## 第 1 题：第 1 题\n\n### 总结\n\na\n\nb\n\nc\nd\ne",
        id="blank-lines-collapse",
    ),
]


# -- One record that exercises every rule at once. ---------------------------------------------------

RICH = {
    "questions": [
        "  Is the shell jacket waterproof?  ",
        "",
        "   ",
        {"question": "防水吗？Which tent — 2 or 3 people? 🏕"},
        {"question": "   ", "text": "hidden behind a blank question"},
        None,
        7,
        {"text": "  What does it weigh?  "},
    ],
    "answers": [
        {
            "isSuccess": True,
            "text": "Ignored: the structured blocks render.",
            "productLinks": [
                "  B0PLAIN001  ",
                {"asin": "B0LINK0001", "title": "Shell jacket 夹克", "href": "https://example.com/dp/B0LINK0001",
                 "source": "sponsored", "description": "Seam-sealed 🌧  "},
                {"asin": "B0LINK0002", "title": "   ", "href": "/dp/B0LINK0002"},
                {"href": "/dp/B0LINK0003"},
                {"source": "similar"},
                {"description": "  Only a description  "},
                42,
                None,
                "   ",
            ],
            "recommendedAsins": [
                {"asin": "B0REC00001", "source": "also bought"},
                {"title": "Rain cover", "source": "  "},
                {"source": "viewed"},
                "B0REC00002",
                {"href": "/dp/B0REC00003", "source": "bundle", "description": "Cheaper\u3000"},
                ["B0NESTED"],
            ],
            "summaryText": "  Light and waterproof.\n\n\n\nGood value.\x0cFits in a pocket.  ",
            "blocks": [
                {"type": "heading", "text": "  Overview  ", "level": 0},
                {"type": "heading", "text": "Deep", "level": 9},
                {"type": "heading", "text": "String level", "level": "3"},
                {"type": "heading", "text": "Bool level", "level": True},
                {"type": "heading", "text": "No level"},
                {"type": "paragraph", "text": "Café crème, naïve façade."},
                {"type": "paragraph", "text": "日本語の説明：軽量です。"},
                {"type": "paragraph", "text": "🎒 fits 25 L."},
                "not a block",
                None,
                5,
                {"type": "image", "text": "an image"},
                {"type": "paragraph", "text": "   "},
                {"type": "list_item", "text": " one "},
                {"type": "divider"},
                {"type": "list_item", "text": "two"},
                {"type": "list_item", "text": ""},
                {"type": "list_item", "text": 3},
                {"type": "table_row", "cells": ["Spec", "Value"]},
                {"type": "table_row", "cells": [" Weight ", 350]},
                {"type": "table_row", "text": "Colour | Red | Blue"},
                {"type": "table_row", "cells": ["Only"]},
                {"type": "table_row"},
                {"type": "table_row", "cells": [], "text": "just words"},
                {"type": "table_row", "text": "x | y"},
                {"type": "paragraph", "text": "After the lone row"},
                {"type": "list_item", "text": "last item"},
                {"type": "table_row", "cells": [None, False, "z"]},
            ],
        },
        {
            "text": (
                "Intro line  \r\nsecond intro line\t\r\n\r\n\r\n## Features 特点\r\n"
                "- Fast\n  and light\n\n    even lighter\n* Star item\n• Bullet item\n  - nested item\n"
                "1. First\n2) Second\n"
                "| Name | Price |\n|:---|---:|\n| Bag 🎒 | 10 |\n| Tent | 20 | extra |\n| Lone |\n\n"
                "```python\nx = 1   \n\n# not a heading\n```\n"
                "After the fence\x0bon a VT line\x85after NEL\u2028after LS   \n\n\n\n"
                "#NoSpace\n####### seven\n  ### Indented heading\nA\rB\n"
                "| p | q |\n|---|---|\n\n"
                "| r | s |\n| --- | --- |\n| 1 | 2 |\n"
                "Closing.   "
            ),
            "blocks": [{"type": "divider"}, {"type": "paragraph", "text": "  "}],
            "recommendedAsins": "B0NOTALIST",
            "productLinks": {"asin": "B0DICT"},
        },
        {
            "isSuccess": False,
            "text": "   ",
            "blocks": [{"type": "paragraph", "text": "Hidden: the answer failed."}],
            "summaryText": "Only a summary 🙂",
            "recommendedAsins": [{"asin": "B0REC00009", "title": "Tent footprint", "source": "bundle"}],
        },
        "not an answer",
        {
            "isSuccess": False,
            "text": "Lone surrogate \ud83d here\u3000\u3000\n\n\n\u3000\n- item \U0001F600\n\u2029after PS",
            "productLinks": [{"title": "Surrogate \udc00 title", "href": "/dp/\ud800"}],
            "summaryText": "   ",
        },
        {"isSuccess": 0, "summaryText": None},
    ],
}

RICH_REPORT = """## 第 1 题：Is the shell jacket waterproof?

### 相关产品

- B0PLAIN001
- B0LINK0001 - Shell jacket 夹克
  https://example.com/dp/B0LINK0001
  Seam-sealed 🌧
- B0LINK0002
  /dp/B0LINK0002
- /dp/B0LINK0003
  /dp/B0LINK0003
  Only a description

### 答案

### Overview

###### Deep

#### String level

### Bool level

#### No level

Café crème, naïve façade.

日本語の説明：軽量です。

🎒 fits 25 L.

- one
- two
- 3

| Spec | Value |
| --- | --- |
| Weight | 350 |
| Colour | Red | Blue |
| Only |  |

just words

x | y

After the lone row

- last item

|  | z

### 推荐 ASIN

- B0REC00001 (also bought)
- Rain cover
- (viewed)
- B0REC00002
- /dp/B0REC00003 (bundle)
  /dp/B0REC00003
  Cheaper

### 总结

Light and waterproof.

Good value.
Fits in a pocket.

## 第 2 题：防水吗？Which tent — 2 or 3 people? 🏕

### 答案

Intro line
second intro line

#### Features 特点

- Fast and light even lighter
- Star item
- Bullet item
- nested item
- First
- Second

| Name | Price |
| --- | --- |
| Bag 🎒 | 10 |
| Tent | 20 | extra |

| Lone |

```python
x = 1

# not a heading
```
After the fence
on a VT line
after NEL
after LS

#NoSpace
####### seven

##### Indented heading

A
B

| p | q |
| --- | --- |
| r | s |
| 1 | 2 |

Closing.

## 第 3 题：What does it weigh?

### 推荐 ASIN

- B0REC00009 - Tent footprint (bundle)

### 总结

Only a summary 🙂

## 第 4 题：第 4 题

### 答案

第 4 题未获取到答案

## 第 5 题：第 5 题

### 相关产品

- Surrogate \udc00 title
  /dp/\ud800

### 答案

Lone surrogate \ud83d here

- item 😀 after PS

## 第 6 题：第 6 题

### 答案

第 6 题未获取到答案"""

REPORTS.append(pytest.param(RICH, RICH_REPORT, id="rich"))


@pytest.mark.parametrize("record, expected", REPORTS)
def test_report(writer, record, expected):
    assert writer.format_data(record) == expected


def test_each_path_is_the_one_taken(path, writer, compiles):
    assert writer.format_data(RICH) == RICH_REPORT
    assert bool(compiles) == (path != "native")


# -- Single steps. ------------------------------------------------------------------------------------

STEPS = [
    pytest.param(lambda w: w._format_section(2, WATERPROOF, "Is it waterproof?"), WATERPROOF_SECTION, id="section"),
    pytest.param(
        lambda w: w._format_recommended_asins(LINKS),
        ["- B000000003", "- B000000001 - Trail jacket (similar)", "  /dp/B000000001", "  Packs into its own pocket",
         "- /dp/B000000002", "  /dp/B000000002", "- (similar)"],
        id="recommended-asins",
    ),
    pytest.param(
        lambda w: w._format_product_links(LINKS),
        ["- B000000003", "- B000000001 - Trail jacket", "  /dp/B000000001", "  Packs into its own pocket",
         "- /dp/B000000002", "  /dp/B000000002"],
        id="product-links",
    ),
    pytest.param(
        lambda w: w._build_text_fallback_blocks(FAMILIES_TEXT),
        [{"kind": "text", "text": "Intro"}, {"kind": "heading", "level": 2, "text": "Pros"},
         {"kind": "list_item", "text": "fast"}, {"kind": "list_item", "text": "light"},
         {"kind": "table", "header": ["a", "b"], "rows": [["1", "2"]]}],
        id="intermediate-blocks",
    ),
    pytest.param(
        lambda w: w._to_structured_blocks(w._build_text_fallback_blocks(FAMILIES_TEXT)),
        [{"type": "paragraph", "text": "Intro"}, {"type": "heading", "text": "Pros", "level": 2},
         {"type": "list_item", "text": "fast"}, {"type": "list_item", "text": "light"},
         {"type": "table_row", "text": "a | b", "cells": ["a", "b"]},
         {"type": "table_row", "text": "1 | 2", "cells": ["1", "2"]}],
        id="structured-blocks",
    ),
    pytest.param(
        lambda w: w._build_answer_blocks(FAMILIES_TEXT, None),
        [{"type": "text", "text": "Intro"}, {"type": "heading", "text": "Pros", "level": 2},
         {"type": "list", "items": ["fast", "light"]}, {"type": "table", "header": ["a", "b"], "rows": [["1", "2"]]}],
        id="display-blocks",
    ),
]


@pytest.mark.parametrize("path", MODULE_PATHS, indirect=True)  # the plain-Python writer lacks some steps
@pytest.mark.parametrize("step, expected", STEPS)
def test_step(writer, step, expected):
    assert step(writer) == expected


# -- The golden report catches changes to the report. -------------------------------------------------

class ProductLinksShowSource(RundownWriter):
    def _format_product_links(self, raw_links):
        return self._format_link_items(raw_links, include_source=True)


class OtherCellSeparator(RundownWriter):
    def _render_blocks(self, blocks):
        return [line.replace(" | ", " ¦ ") for line in super()._render_blocks(blocks)]


class NoBlankLineBetweenBlocks(RundownWriter):
    def _render_blocks(self, blocks):
        return [line for line in super()._render_blocks(blocks) if line]


@pytest.mark.parametrize(
    "mutant, changed_line",
    [
        (ProductLinksShowSource, "- B0LINK0001 - Shell jacket 夹克 (sponsored)"),
        (OtherCellSeparator, "| Spec ¦ Value |"),
        (NoBlankLineBetweenBlocks, "### Overview\n###### Deep"),
    ],
)
def test_changed_report_differs_from_the_golden_one(mutant, changed_line):
    report = mutant().format_data(RICH)
    assert changed_line in report
    assert report != RICH_REPORT
