"""Deterministic run result records for the benchmarks: realistic answers in Chinese and English, mixing
structured blocks and Markdown text, the same answers with emoji-heavy text, and single answers of any size;
and the subclass that sends every report down the generic path."""

from __future__ import annotations

import random

from tavik.amazon_rufus.services.rundown_writer import RundownWriter


class Generic(RundownWriter):
    """Replacing one step (by itself) sends every report down the generic path."""

    def _render_blocks(self, blocks):
        return super()._render_blocks(blocks)


EN_WORDS = ("jacket waterproof seam breathable hood zipper pocket weight fabric layer rain trail hike "
            "warm light pack fit size review rating price value durable stitch membrane vent").split()
ZH_PHRASES = ["防水性能很好", "透气面料", "适合登山", "重量较轻", "性价比高", "做工扎实", "尺码偏大",
              "用户评价不错", "拉链顺滑", "适合通勤", "保暖效果明显", "收纳方便"]
# All outside the Basic Multilingual Plane: a str holding one stores 4 bytes per character.
EMOJI = ["👍", "🧥", "🌧", "🏔", "🎒", "💧", "🔥", "🌟", "😀", "🏕", "🧵", "📦"]


def _sentence(rng: random.Random, lang: str) -> str:
    """A sentence in Chinese ("zh"), in English ("en"), or of English words each led by an emoji ("emoji")."""
    if lang == "emoji":
        return " ".join(rng.choice(EMOJI) + rng.choice(EN_WORDS) for _ in range(rng.randint(6, 14))) + "."
    if lang == "zh":
        return "，".join(rng.choice(ZH_PHRASES) for _ in range(rng.randint(2, 5))) + "。"
    words = [rng.choice(EN_WORDS) for _ in range(rng.randint(6, 14))]
    return " ".join(words).capitalize() + "."


def markdown_answer(rng: random.Random, size: int, lang: str) -> str:
    """Markdown-like text of about `size` characters: headings, paragraphs, lists with continuation lines,
    a pipe table and a fenced code block, repeated."""
    parts: list[str] = []
    total = 0
    while total < size:
        chunk = [
            f"## {_sentence(rng, lang)[:24]}",
            _sentence(rng, lang) + " " + _sentence(rng, lang),
            _sentence(rng, lang),
            "",
            f"- {_sentence(rng, lang)}",
            f"  {_sentence(rng, lang)}",
            f"- {_sentence(rng, lang)}",
            f"1. {_sentence(rng, lang)}",
            "",
            "| 型号 | 重量 | 评分 |" if lang == "zh" else "| Model | Weight | Rating |",
            "| --- | :---: | ---: |",
            f"| A{rng.randint(1, 99)} | {rng.randint(200, 900)} g | {rng.randint(30, 50) / 10} |",
            f"| B{rng.randint(1, 99)} | {rng.randint(200, 900)} g |",
            "",
            "```text",
            f"# {_sentence(rng, lang)}",
            "```",
            _sentence(rng, lang),
            "",
        ]
        text = "\n".join(chunk) + "\n"
        parts.append(text)
        total += len(text)
    return "".join(parts)


def structured_blocks(rng: random.Random, size: int, lang: str) -> list[dict]:
    blocks: list[dict] = []
    total = 0
    while total < size:
        row = [f"A{rng.randint(1, 99)}", f"{rng.randint(200, 900)} g", str(rng.randint(30, 50) / 10)]
        group = [
            {"type": "heading", "text": _sentence(rng, lang)[:24], "level": rng.randint(1, 3)},
            {"type": "paragraph", "text": _sentence(rng, lang) + " " + _sentence(rng, lang)},
            {"type": "list_item", "text": _sentence(rng, lang)},
            {"type": "list_item", "text": _sentence(rng, lang)},
            {"type": "image", "text": "photo.png"},
            {"type": "table_row", "cells": ["型号", "重量", "评分"] if lang == "zh" else ["Model", "Weight", "Rating"]},
            {"type": "table_row", "cells": row},
            {"type": "table_row", "text": " | ".join(row[:2])},
        ]
        blocks.extend(group)
        total += sum(len(str(b.get("text") or b.get("cells"))) for b in group)
    return blocks


def links(rng: random.Random, n: int, emoji: bool = False) -> list:
    out: list = []
    for i in range(n):
        asin = f"B0{rng.randint(10**7, 10**8 - 1)}"
        if i % 3 == 0:
            out.append(asin)
        else:
            title = _sentence(rng, "emoji" if emoji else "zh" if i % 2 == 0 else "en")[:30]
            out.append({"asin": asin, "title": title, "href": f"https://www.example.com/dp/{asin}",
                        "source": rng.choice(["similar", "bought together"]),
                        "description": _sentence(rng, "emoji" if emoji else "en")})
    return out


def answer(rng: random.Random, size: int, lang: str, structured: bool) -> dict:
    emoji = lang == "emoji"
    record = {
        "isSuccess": True,
        "text": markdown_answer(rng, size, lang),
        "blocks": structured_blocks(rng, size, lang) if structured else [],
        "productLinks": links(rng, rng.randint(1, 4), emoji),
        "recommendedAsins": links(rng, rng.randint(1, 3), emoji),
        "summaryText": _sentence(rng, lang),
    }
    return record


def realistic_record(n_answers: int = 50, answer_size: int = 2000, seed: int = 7, emoji: bool = False) -> dict:
    """Answers alternately in Chinese and English or, with `emoji`, all of emoji-led words."""
    rng = random.Random(seed)

    def lang(i: int) -> str:
        return "emoji" if emoji else "zh" if i % 2 == 0 else "en"

    answers = [answer(rng, answer_size, lang(i), i % 3 == 0) for i in range(n_answers)]
    if n_answers > 2:
        answers[2] = {"isSuccess": False, "text": "", "blocks": []}
    questions = [_sentence(rng, lang(i)) for i in range(n_answers)]
    return {"questions": questions, "answers": answers}


def emoji_record() -> dict:
    """The realistic record's shape with emoji-heavy text: most of its characters sit in 4-byte strs."""
    return realistic_record(emoji=True)


def single_answer_record(size: int, seed: int = 11) -> dict:
    rng = random.Random(seed)
    return {"questions": ["One long answer"], "answers": [{"text": markdown_answer(rng, size, "en")}]}
