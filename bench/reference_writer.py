"""The report writer as plain Python, written from the same rules as the native module: the benchmark's
third column ("the same code in Python") and a cross-check of both native paths."""

from __future__ import annotations

import re
from typing import Any


class ReferenceWriter:
    def format_data(self, data: dict) -> str:
        answers = data.get("answers")
        if not isinstance(answers, list) or not answers:
            return ""
        questions = self._extract_questions(data)
        sections = [self._format_section(i, a, self._question_at(questions, i)) for i, a in enumerate(answers, start=1)]
        return self._collapse_blank_lines("\n\n".join(s for s in sections if isinstance(s, str) and s))

    def _extract_questions(self, data: dict) -> list[str]:
        questions = self._normalize_question_list(data.get("questions"))
        if questions:
            return questions
        payload = data.get("upload_payload")
        if not isinstance(payload, dict):
            return []
        records = payload.get("records")
        if not isinstance(records, list) or not records:
            return []
        first = records[0]
        if not isinstance(first, dict):
            return []
        return self._normalize_question_list(first.get("questions"))

    def _normalize_question_list(self, raw: Any) -> list[str]:
        if not isinstance(raw, list):
            return []
        result = []
        for item in raw:
            if isinstance(item, str):
                text = item.strip()
            elif isinstance(item, dict):
                text = str(item.get("question") or item.get("text") or "").strip()
            else:
                text = ""
            if text:
                result.append(text)
        return result

    def _question_at(self, questions: list[str], index: int) -> str:
        i = index - 1
        return questions[i] if 0 <= i < len(questions) else f"第 {index} 题"

    def _format_section(self, index: int, answer: Any, question: str) -> str:
        answer_data = answer if isinstance(answer, dict) else {}
        product_links = self._format_link_items(answer_data.get("productLinks"), include_source=False)
        summary = str(answer_data.get("summaryText") or "").strip()
        body = self._format_answer_body(index, answer_data)
        recommended = self._format_link_items(answer_data.get("recommendedAsins"), include_source=True)
        lines = [f"## 第 {index} 题：{question}"]
        if product_links:
            lines += ["", "### 相关产品", "", *product_links]
        if body or not summary:
            lines += ["", "### 答案", ""]
            lines += body or [f"第 {index} 题未获取到答案"]
        if recommended:
            lines += ["", "### 推荐 ASIN", "", *recommended]
        if summary:
            lines += ["", "### 总结", "", summary]
        return "\n".join(lines)

    def _format_answer_body(self, index: int, answer: dict) -> list[str]:
        text = str(answer.get("text") or "").strip()
        if answer.get("isSuccess") is False and not text:
            return []
        return self._render_blocks(self._build_answer_blocks(text, answer.get("blocks")))

    def _format_link_items(self, raw_items: Any, *, include_source: bool) -> list[str]:
        if not isinstance(raw_items, list):
            return []
        lines = []
        for item in raw_items:
            if isinstance(item, str):
                if item.strip():
                    lines.append(f"- {item.strip()}")
                continue
            if not isinstance(item, dict):
                continue
            asin = str(item.get("asin") or "").strip()
            title = str(item.get("title") or item.get("href") or "").strip()
            href = str(item.get("href") or "").strip()
            source = str(item.get("source") or "").strip()
            description = str(item.get("description") or "").strip()
            label = " - ".join(part for part in (asin, title) if part)
            if include_source and source:
                label = f"{label} ({source})" if label else f"({source})"
            if label:
                lines.append(f"- {label}")
            if href:
                lines.append(f"  {href}")
            if description:
                lines.append(f"  {description}")
        return lines

    def _build_answer_blocks(self, text: str, structured_blocks: Any) -> list[dict]:
        if isinstance(structured_blocks, list) and structured_blocks:
            blocks = self._build_structured_answer_blocks(structured_blocks)
            if blocks:
                return blocks
        if not text:
            return []
        blocks = self._build_structured_answer_blocks(self._to_structured_blocks(self._build_text_fallback_blocks(text)))
        return blocks or [{"type": "text", "text": text.strip()}]

    def _build_structured_answer_blocks(self, structured_blocks: list) -> list[dict]:
        blocks: list[dict] = []
        list_buffer: list[str] = []
        table_rows: list[list[str]] = []

        def flush_list() -> None:
            nonlocal list_buffer
            if list_buffer:
                blocks.append({"type": "list", "items": list_buffer})
                list_buffer = []

        def flush_table() -> None:
            nonlocal table_rows
            if not table_rows:
                return
            if len(table_rows) < 2:
                blocks.append({"type": "text", "text": "\n".join(" | ".join(row) for row in table_rows)})
            else:
                header = table_rows[0]
                rows = [self._normalize_row_cells(row, len(header)) for row in table_rows[1:]]
                blocks.append({"type": "table", "header": header, "rows": rows})
            table_rows = []

        for raw in structured_blocks:
            if not isinstance(raw, dict):
                continue
            block_type = raw.get("type")
            text = str(raw.get("text") or "").strip()
            if not text and block_type != "table_row":
                continue
            if block_type == "heading":
                flush_list()
                flush_table()
                level = raw.get("level")
                level = level if isinstance(level, int) else 2
                blocks.append({"type": "heading", "text": text, "level": min(max(level, 1), 6)})
            elif block_type == "paragraph":
                flush_list()
                flush_table()
                blocks.append({"type": "text", "text": text})
            elif block_type == "list_item":
                flush_table()
                list_buffer.append(text)
            elif block_type == "table_row":
                flush_list()
                row = self._normalize_structured_row(raw)
                if row:
                    table_rows.append(row)
                elif text:
                    flush_table()
                    blocks.append({"type": "text", "text": text})
        flush_list()
        flush_table()
        return blocks

    def _normalize_structured_row(self, block: dict) -> list[str] | None:
        cells = block.get("cells")
        if isinstance(cells, list) and cells:
            return [str(cell or "").strip() for cell in cells]
        return self._parse_pipe_row(str(block.get("text") or ""))

    def _normalize_row_cells(self, row: list[str], width: int) -> list[str]:
        if len(row) == width:
            return row
        if len(row) < width:
            return row + [""] * (width - len(row))
        return row[: width - 1] + [" | ".join(row[width - 1:])]

    def _to_structured_blocks(self, blocks: list[dict]) -> list[dict]:
        structured = []
        for block in blocks:
            kind = block.get("kind")
            if kind == "heading":
                structured.append({"type": "heading", "text": block.get("text", ""), "level": block.get("level", 2)})
            elif kind == "list_item":
                structured.append({"type": "list_item", "text": block.get("text", "")})
            elif kind == "table":
                header = block.get("header") if isinstance(block.get("header"), list) else []
                rows = block.get("rows") if isinstance(block.get("rows"), list) else []
                structured.append({"type": "table_row", "text": " | ".join(header), "cells": header})
                for row in rows:
                    if isinstance(row, list):
                        structured.append({"type": "table_row", "text": " | ".join(row), "cells": row})
            else:
                structured.append({"type": "paragraph", "text": block.get("text", "")})
        return structured

    def _render_blocks(self, blocks: list[dict]) -> list[str]:
        lines: list[str] = []
        for block in blocks:
            if lines:
                lines.append("")
            block_type = block.get("type")
            if block_type == "heading":
                level = block.get("level")
                level = level if isinstance(level, int) else 2
                lines.append(f"{'#' * min(max(level + 2, 1), 6)} {block.get('text', '')}".strip())
            elif block_type == "list":
                lines.extend(f"- {item}" for item in block.get("items", []))
            elif block_type == "table":
                header = [str(cell) for cell in block.get("header", [])]
                rows = block.get("rows", [])
                if not header:
                    continue
                lines.append("| " + " | ".join(header) + " |")
                lines.append("| " + " | ".join("---" for _ in header) + " |")
                lines.extend("| " + " | ".join(str(c) for c in row) + " |" for row in rows if isinstance(row, list))
            else:
                text = str(block.get("text") or "").strip()
                if text:
                    lines.append(text)
        return lines

    def _collapse_blank_lines(self, text: str) -> str:
        collapsed: list[str] = []
        blank = False
        for line in (line.rstrip() for line in text.splitlines()):
            if not line.strip():
                if not blank:
                    collapsed.append("")
                blank = True
                continue
            collapsed.append(line)
            blank = False
        while collapsed and collapsed[-1] == "":
            collapsed.pop()
        return "\n".join(collapsed)

    def _normalize_text_lines(self, text: str) -> list[str]:
        return text.replace("\r\n", "\n").replace("\r", "\n").split("\n")

    def _build_text_fallback_blocks(self, text: str) -> list[dict]:
        lines = self._normalize_text_lines(text)
        blocks: list[dict] = []
        paragraph: list[str] = []
        in_fence = False
        index = 0

        def flush_paragraph() -> None:
            nonlocal paragraph
            joined = "\n".join(paragraph).strip()
            paragraph = []
            if joined:
                blocks.append({"kind": "text", "text": joined})

        while index < len(lines):
            line = lines[index]
            trimmed = line.strip()
            if trimmed.startswith("```"):
                in_fence = not in_fence
                paragraph.append(line.rstrip())
                index += 1
                continue
            if in_fence:
                paragraph.append(line.rstrip())
                index += 1
                continue
            if not trimmed:
                flush_paragraph()
                index += 1
                continue
            heading = self._parse_markdown_heading(line)
            if heading:
                flush_paragraph()
                blocks.append(heading)
                index += 1
                continue
            table = self._parse_markdown_table(lines, index)
            if table:
                flush_paragraph()
                block, index = table
                blocks.append(block)
                continue
            item = self._parse_markdown_list_item(line)
            if item:
                flush_paragraph()
                blocks.append(item)
                index += 1
                continue
            if re.match(r"^\s+", line) and blocks and blocks[-1].get("kind") == "list_item":
                blocks[-1]["text"] = f"{blocks[-1]['text']} {trimmed}".strip()
                index += 1
                continue
            paragraph.append(line.rstrip())
            index += 1
        flush_paragraph()
        return blocks

    def _parse_markdown_heading(self, line: str) -> dict | None:
        match = re.match(r"^(#{1,6})\s+(.*)$", line.strip())
        if not match:
            return None
        text = match.group(2).strip()
        return {"kind": "heading", "level": len(match.group(1)), "text": text} if text else None

    def _parse_markdown_list_item(self, line: str) -> dict | None:
        trimmed = line.strip()
        unordered = re.match(r"^([-*•])\s+(.*)$", trimmed)
        if unordered:
            text = unordered.group(2).strip()
            return {"kind": "list_item", "text": text} if text else None
        ordered = re.match(r"^\d+[.)]\s+(.*)$", trimmed)
        if not ordered:
            return None
        text = ordered.group(1).strip()
        return {"kind": "list_item", "text": text} if text else None

    def _parse_markdown_table(self, lines: list[str], start_index: int) -> tuple[dict, int] | None:
        header = self._parse_pipe_row(lines[start_index] if start_index < len(lines) else "")
        if header is None:
            return None
        delimiter = self._parse_pipe_row(lines[start_index + 1] if start_index + 1 < len(lines) else "")
        if delimiter is None or not self._is_markdown_delimiter_row(delimiter):
            return None
        rows = []
        index = start_index + 2
        while index < len(lines):
            if not lines[index].strip():
                break
            cells = self._parse_pipe_row(lines[index])
            if cells is None or self._is_markdown_delimiter_row(cells):
                break
            rows.append(cells)
            index += 1
        return {"kind": "table", "header": header, "rows": rows}, index

    def _parse_pipe_row(self, line: str) -> list[str] | None:
        if "|" not in line:
            return None
        cells = [cell.strip() for cell in line.split("|")]
        if cells and cells[0] == "":
            cells = cells[1:]
        if cells and cells[-1] == "":
            cells = cells[:-1]
        if len(cells) < 2:
            return None
        return cells if any(cell and cell != "-" for cell in cells) else None

    def _is_markdown_delimiter_row(self, cells: list[str]) -> bool:
        return bool(cells) and all(re.match(r"^:?-{3,}:?$", cell.strip()) for cell in cells)
