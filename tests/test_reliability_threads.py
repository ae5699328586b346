"""One writer shared by threads, and two threads loading the bank at once: the same results as serial calls."""

import sys
import threading

import pytest

from reliability_support import SANITIZED, realistic_record, write_bank
from tavik.amazon_rufus.services.prompt_pool import PromptPoolService
from tavik.amazon_rufus.services.rundown_writer import RundownWriter

ROUNDS = 20 if SANITIZED else 150


class Text:
    """Not plain: sends its record down the generic path, where the thread can be switched in Python code."""

    def __str__(self):
        return "generic"


@pytest.fixture
def often_switching():
    interval = sys.getswitchinterval()
    sys.setswitchinterval(1e-6)
    yield
    sys.setswitchinterval(interval)


def run_together(work, n):
    """`work(i)` on `n` threads started at once; their results, or the first exception."""
    barrier = threading.Barrier(n)
    results, errors = [None] * n, []

    def run(i):
        barrier.wait()
        try:
            results[i] = work(i)
        except BaseException as error:  # reported by the test
            errors.append(error)

    threads = [threading.Thread(target=run, args=(i,)) for i in range(n)]
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join()
    assert not errors, errors
    return results


def test_four_threads_on_one_writer_give_the_serial_reports(often_switching):
    writer = RundownWriter()
    records = [realistic_record(seed=1), realistic_record(n_answers=3, seed=2),
               {"answers": [{"text": Text(), "summaryText": "s"}] * 3, "questions": ["q"]},
               {"answers": realistic_record(seed=4)["answers"] + [{"summaryText": Text()}]}]
    serial = [writer.format_data(record) for record in records]
    reports = run_together(lambda i: [writer.format_data(records[i]) for _ in range(ROUNDS)], 4)
    for i, per_thread in enumerate(reports):
        assert per_thread == [serial[i]] * ROUNDS


def test_two_threads_loading_the_bank_at_once(tmp_path, often_switching):
    write_bank(tmp_path, '{"items": [{"id": 1, "questions": [{"id": 2, "position": 2}, {"id": 1, "position": 1}]}, {"id": 2}]}')
    service = PromptPoolService(str(tmp_path))

    def load(_):
        return [[(t.id, [q.id for q in t.questions]) for t in service.load_templates()] for _ in range(ROUNDS)]

    for per_thread in run_together(load, 2):
        assert per_thread == [[(1, [1, 2]), (2, [])]] * ROUNDS
