"""The fuzzer's input format: a byte string read as a small program that builds a run result record (and a few
loose texts), so that every mutation of the bytes still gives a record, and a record can be written back as
bytes to seed the corpus.

The bytes are chunks separated by 0xFE, a byte that UTF-8 never uses. A chunk's first byte is an operation
(an ASCII letter, see OPS); the rest is its payload. A value payload is
  0xFD k       one of SPECIALS (None, booleans, numbers, containers, a missing key...), chosen by k,
  0xFC text    a number written as text (an int, else a float, else the text itself),
  anything     text: UTF-8, with encoded surrogates allowed, invalid bytes kept as lone surrogates.
Unknown operations are ignored. Sizes are capped so that one input stays cheap.
"""

from __future__ import annotations

import copy
import math

SEP = 0xFE
SPECIAL = 0xFD
NUMBER = 0xFC


class _Missing:
    """A field that is left out of its dict."""

    def __repr__(self) -> str:
        return "MISSING"


MISSING = _Missing()

# Values that decoded JSON can hold besides text, and a few that test the bounds of the native reader: ints at
# and past 64 bits, and one whose str() the interpreter refuses. New values go at the end: seeds use the indices.
SPECIALS: list = [
    None, True, False, 0, 1, -1, 2, 3, 6, 7, 9, -5, 2**63, -(2**63) - 1, 10**5000,
    1.5, -0.0, math.nan, math.inf, 1e16, 2.0, "", [], {}, [""], {"a": 1}, ["x", 1], MISSING,
    2**63 - 1, -(2**63), 1e-07, -math.inf, 123456789.125,
]

MAX_ANSWERS = 24
MAX_ITEMS = 64  # blocks, cells, links or questions in one list
MAX_TEXTS = 8  # loose texts
MAX_REPEAT = 1 << 14  # characters of a text grown by repeats: past a few growths of the output buffer


def _text(payload: bytes) -> str:
    try:
        return payload.decode("utf-8", "surrogatepass")
    except UnicodeDecodeError:
        return payload.decode("utf-8", "surrogateescape")


def _number(text: str):
    # int() and float() accept less white space than `\s` matches (not U+001C, for one): each is tried in turn.
    if len(text) <= 64:
        for convert in (int, float):
            try:
                return convert(text)
            except ValueError:
                pass
    return text


def value(payload: bytes):
    if payload[:1] == bytes([SPECIAL]):
        special = SPECIALS[payload[1] % len(SPECIALS)] if len(payload) > 1 else None
        return copy.deepcopy(special) if isinstance(special, (list, dict)) else special
    if payload[:1] == bytes([NUMBER]):
        return _number(_text(payload[1:]))
    return _text(payload)


def _put(d: dict, key: str, v) -> None:
    if v is MISSING:
        d.pop(key, None)
    else:
        d[key] = v


def _append(lst: list, v) -> None:
    if v is not MISSING and len(lst) < MAX_ITEMS:
        lst.append(v)


class Program:
    """The record and the loose texts that one input builds."""

    def __init__(self) -> None:
        self.record: dict = {}
        self.answers: list = []
        self.answers_value = MISSING  # set by 'z': "answers" holds this instead of the list
        self.questions: list | None = None  # where question items go now
        self.answer: dict | None = None
        self.block: dict | None = None
        self.links: list | None = None  # the link list that the last 'k' or 'm' went to
        self.link: dict | None = None
        self.question: dict | None = None
        self.texts: list[str] = []  # loose texts for the line parsers and the text walk
        self.line_lists: list[list[str]] = []  # loose line lists for the table parser

    # -- Helpers. ------------------------------------------------------------------------------------
    def _answer(self) -> dict:
        if self.answer is None:
            self.answer = {}
            _append(self.answers, self.answer)
        return self.answer

    def _question_list(self) -> list:
        if self.questions is None:
            self.questions = self.record.setdefault("questions", [])
        return self.questions

    def _blocks(self) -> list:
        answer = self._answer()
        blocks = answer.get("blocks")
        if not isinstance(blocks, list):
            blocks = answer["blocks"] = []
        return blocks

    def _new_block(self, block_type, text=MISSING) -> None:
        self.block = {"type": block_type} if block_type is not MISSING else {}
        _put(self.block, "text", text)
        _append(self._blocks(), self.block)

    def _last_block(self) -> dict:
        if self.block is None:
            self._new_block("table_row")
        return self.block

    def _link_list(self, key: str) -> list:
        answer = self._answer()
        links = answer.get(key)
        if not isinstance(links, list):
            links = answer[key] = []
        return links

    def _new_link(self, key: str) -> None:
        self.links = self._link_list(key)
        self.link = {}
        _append(self.links, self.link)

    def _link_field(self, key: str, v) -> None:
        if self.link is None:
            self._new_link("productLinks")
        _put(self.link, key, v)

    # -- Operations. ---------------------------------------------------------------------------------
    def run(self, data: bytes) -> None:
        for chunk in data.split(bytes([SEP])):
            if not chunk:
                continue
            op = OPS.get(chr(chunk[0]))
            if op is not None:
                op(self, chunk[1:])

    def op_answer(self, p: bytes) -> None:
        if len(self.answers) >= MAX_ANSWERS:
            return
        v = value(p) if p else {}
        self.answer = v if isinstance(v, dict) else None
        self.block = self.link = None
        _append(self.answers, self.answer if self.answer is not None else v)

    def op_question(self, p: bytes) -> None:
        _append(self._question_list(), value(p))

    def op_question_dict(self, p: bytes) -> None:
        self.question = {}
        _put(self.question, "question", value(p))
        _append(self._question_list(), self.question)

    def op_question_text(self, p: bytes) -> None:
        if self.question is None:
            self.question = {}
            _append(self._question_list(), self.question)
        _put(self.question, "text", value(p))

    def op_upload_record(self, p: bytes) -> None:
        payload = self.record.get("upload_payload")
        if not isinstance(payload, dict):
            payload = self.record["upload_payload"] = {"records": []}
        records = payload["records"]
        v = value(p) if p else {}
        if isinstance(v, dict):
            self.questions = []
            self.question = None
            v = {"questions": self.questions}
        _append(records, v)

    def op_answers_value(self, p: bytes) -> None:
        self.answers_value = value(p)

    def op_field(self, key: str, p: bytes) -> None:
        _put(self._answer(), key, value(p))

    def op_block(self, block_type: str, p: bytes) -> None:
        self._new_block(block_type, value(p))

    def op_block_type(self, p: bytes) -> None:
        self._new_block(value(p))

    def op_block_text(self, p: bytes) -> None:
        _put(self._last_block(), "text", value(p))

    def op_level(self, p: bytes) -> None:
        _put(self._last_block(), "level", value(p))

    def op_cell(self, p: bytes) -> None:
        block = self._last_block()
        cells = block.get("cells")
        if not isinstance(cells, list):
            cells = block["cells"] = []
        _append(cells, value(p))

    def op_cells_value(self, p: bytes) -> None:
        _put(self._last_block(), "cells", value(p))

    def op_raw_block(self, p: bytes) -> None:
        _append(self._blocks(), value(p))

    def op_link(self, key: str, p: bytes) -> None:
        self.links = self._link_list(key)
        _append(self.links, value(p))

    @staticmethod
    def _grow_text(holder: dict, p: bytes) -> None:
        # A long run from a short, non-empty input: the rest of the payload, 8 times its first byte, added to the text.
        text = holder.get("text")
        run = _text(p[1:]) * (p[0] * 8)
        holder["text"] = ((text if isinstance(text, str) else "") + run)[:MAX_REPEAT]

    def op_repeat(self, p: bytes) -> None:
        if p:
            self._grow_text(self._answer(), p)

    def op_repeat_block_text(self, p: bytes) -> None:
        # The same for the last block's text: wide pipe rows and long block texts.
        if p:
            self._grow_text(self._last_block(), p)

    def op_repeat_cell(self, p: bytes) -> None:
        # The last cell of the last block again, 1 to 64 times: rows wider than the few cells kept inline.
        cells = self._last_block().get("cells")
        if isinstance(cells, list) and cells:
            for _ in range((p[0] if p else 0) % 64 + 1):
                _append(cells, cells[-1])

    def op_key(self, p: bytes) -> None:
        # A key made at run time (not interned, perhaps a field's name) or of another type than str, in the
        # last block, else the answer.
        key = value(p) if p[:1] == bytes([SPECIAL]) else "".join(list(_text(p)))
        if isinstance(key, (list, dict)) or key is MISSING:
            return
        target = self.block if self.block is not None else self._answer()
        target[key] = key if isinstance(key, str) else "k"

    def op_loose_text(self, p: bytes) -> None:
        if len(self.texts) < MAX_TEXTS:
            self.texts.append(_text(p))

    def op_line_list(self, p: bytes) -> None:
        # Lines that keep every line boundary but the unit separator: line feeds and carriage returns inside a line.
        if len(self.line_lists) < MAX_TEXTS:
            self.line_lists.append(_text(p).split("\x1f")[:MAX_ITEMS])

    def result(self) -> dict:
        record = dict(self.record)
        if self.answers_value is not MISSING:
            record["answers"] = self.answers_value
        elif self.answers or "answers" not in record:
            record["answers"] = self.answers
        return record


OPS = {
    "A": Program.op_answer,
    "Q": Program.op_question,
    "q": Program.op_question_dict,
    "x": Program.op_question_text,
    "U": Program.op_upload_record,
    "z": Program.op_answers_value,
    "T": lambda s, p: s.op_field("text", p),
    "S": lambda s, p: s.op_field("summaryText", p),
    "F": lambda s, p: s.op_field("isSuccess", p),
    "G": lambda s, p: s.op_field("blocks", p),
    "O": lambda s, p: s.op_field("productLinks", p),
    "o": lambda s, p: s.op_field("recommendedAsins", p),
    "H": lambda s, p: s.op_block("heading", p),
    "P": lambda s, p: s.op_block("paragraph", p),
    "I": lambda s, p: s.op_block("list_item", p),
    "R": lambda s, p: s.op_block("table_row", p),
    "Y": Program.op_block_type,
    "E": Program.op_block_text,
    "L": Program.op_level,
    "C": Program.op_cell,
    "c": Program.op_cells_value,
    "N": Program.op_raw_block,
    "K": lambda s, p: s.op_link("productLinks", p),
    "M": lambda s, p: s.op_link("recommendedAsins", p),
    "k": lambda s, p: s._new_link("productLinks"),
    "m": lambda s, p: s._new_link("recommendedAsins"),
    "a": lambda s, p: s._link_field("asin", value(p)),
    "t": lambda s, p: s._link_field("title", value(p)),
    "h": lambda s, p: s._link_field("href", value(p)),
    "s": lambda s, p: s._link_field("source", value(p)),
    "d": lambda s, p: s._link_field("description", value(p)),
    "X": Program.op_repeat,
    "Z": Program.op_repeat_block_text,
    "D": Program.op_repeat_cell,
    "J": Program.op_key,
    "W": Program.op_loose_text,
    "V": Program.op_line_list,
}


def decode(data: bytes) -> Program:
    program = Program()
    program.run(data)
    return program


# -- Writing a record as an input (the corpus seeds). ------------------------------------------------------

def encode_value(v) -> bytes:
    if isinstance(v, str):
        return v.encode("utf-8", "surrogatepass")
    for k, special in enumerate(SPECIALS):
        if type(special) is type(v) and (repr(special) == repr(v) if isinstance(v, float) else special == v):
            return bytes([SPECIAL, k])
    if isinstance(v, (int, float)) and not isinstance(v, bool) and math.isfinite(v) and abs(v) < 10**30:
        return bytes([NUMBER]) + repr(v).encode()
    if isinstance(v, list):
        return bytes([SPECIAL, SPECIALS.index([""])]) if v else bytes([SPECIAL, SPECIALS.index([])])
    if isinstance(v, dict):
        return bytes([SPECIAL, SPECIALS.index({"a": 1})]) if v else bytes([SPECIAL, SPECIALS.index({})])
    return bytes([SPECIAL, 0])


def _chunk(op: str, payload: bytes = b"") -> bytes:
    return op.encode() + payload


def _encode_questions(items, out: list[bytes]) -> None:
    for item in items if isinstance(items, list) else []:
        if isinstance(item, dict):
            if "question" in item:
                out.append(_chunk("q", encode_value(item["question"])))
                if "text" in item:
                    out.append(_chunk("x", encode_value(item["text"])))
            else:
                out.append(_chunk("q", encode_value(MISSING)))
                if "text" in item:
                    out.append(_chunk("x", encode_value(item["text"])))
        else:
            out.append(_chunk("Q", encode_value(item)))


def _encode_links(key: str, items, out: list[bytes]) -> None:
    plain, obj, whole = ("K", "k", "O") if key == "productLinks" else ("M", "m", "o")
    if not isinstance(items, list):
        out.append(_chunk(whole, encode_value(items)))
        return
    for item in items:
        if isinstance(item, dict):
            out.append(_chunk(obj))
            for field, op in (("asin", "a"), ("title", "t"), ("href", "h"), ("source", "s"), ("description", "d")):
                if field in item:
                    out.append(_chunk(op, encode_value(item[field])))
        else:
            out.append(_chunk(plain, encode_value(item)))


def _encode_blocks(blocks, out: list[bytes]) -> None:
    if not isinstance(blocks, list):
        out.append(_chunk("G", encode_value(blocks)))
        return
    ops = {"heading": "H", "paragraph": "P", "list_item": "I", "table_row": "R"}
    for block in blocks:
        if not isinstance(block, dict):
            out.append(_chunk("N", encode_value(block)))
            continue
        block_type = block.get("type", MISSING)
        if isinstance(block_type, str) and block_type in ops:
            out.append(_chunk(ops[block_type], encode_value(block.get("text", MISSING))))
        else:
            out.append(_chunk("Y", encode_value(block_type)))
            if "text" in block:
                out.append(_chunk("E", encode_value(block["text"])))
        if "level" in block:
            out.append(_chunk("L", encode_value(block["level"])))
        cells = block.get("cells", MISSING)
        if isinstance(cells, list) and cells:
            out.extend(_chunk("C", encode_value(cell)) for cell in cells)
        elif cells is not MISSING:
            out.append(_chunk("c", encode_value(cells)))


def encode(record: dict, texts: list[str] = (), line_lists: list[list[str]] = ()) -> bytes:
    out: list[bytes] = []
    if "questions" in record:
        _encode_questions(record["questions"], out)
    payload = record.get("upload_payload")
    if isinstance(payload, dict) and isinstance(payload.get("records"), list):
        for rec in payload["records"]:
            if isinstance(rec, dict):
                out.append(_chunk("U"))
                _encode_questions(rec.get("questions"), out)
            else:
                out.append(_chunk("U", encode_value(rec)))
    answers = record.get("answers", [])
    if not isinstance(answers, list):
        out.append(_chunk("z", encode_value(answers)))
        answers = []
    for answer in answers:
        if not isinstance(answer, dict):
            out.append(_chunk("A", encode_value(answer)))
            continue
        out.append(_chunk("A"))
        for key, op in (("text", "T"), ("summaryText", "S"), ("isSuccess", "F")):
            if key in answer:
                out.append(_chunk(op, encode_value(answer[key])))
        if "blocks" in answer:
            _encode_blocks(answer["blocks"], out)
        for key in ("productLinks", "recommendedAsins"):
            if key in answer:
                _encode_links(key, answer[key], out)
    out.extend(_chunk("W", encode_value(t)) for t in texts)
    out.extend(_chunk("V", "\x1f".join(lines).encode("utf-8", "surrogatepass")) for lines in line_lists)
    return bytes([SEP]).join(out)
