"""默认题库读取服务。"""

# A compiled module, built for CPython 3.11, 3.12 and 3.13.

import json as json
from pathlib import Path as Path
from typing import Any

from tavik.amazon_rufus.domain.exceptions import PromptPoolNotReadyError as PromptPoolNotReadyError
from tavik.amazon_rufus.domain.models import Question as Question
from tavik.amazon_rufus.domain.models import QuestionTemplate as QuestionTemplate

class PromptPoolService:
    """从已安装 Skill 中读取合并后的默认题目模板。"""

    skills_dir: Path | None
    def __init__(self, skills_dir: str | None = None) -> None: ...
    def load_templates(self) -> list[QuestionTemplate]:
        """读取并校验 question_templates.json。"""
    def _resolve_question_templates_path(self) -> Path:
        """解析题库文件路径。"""
    def _not_ready(self) -> PromptPoolNotReadyError:
        """构造可操作的缺失题库错误。"""
    def _parse_template(self, item: dict[str, Any]) -> QuestionTemplate:
        """解析单个模板。"""
    def _parse_question(self, item: dict[str, Any]) -> Question:
        """解析单个题目。"""
