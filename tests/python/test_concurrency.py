"""Threads and fork: 8 threads give the answers of one; a forked child answers as its parent, whether
the library was initialised before the fork or not."""
import os
import pickle
import threading

import tesqsrch


def answers(words, queries, essays):
    return ([tesqsrch.label(w) for w in words], [tesqsrch.analyze(q) for q in queries],
            [tesqsrch.essay(e) for e in essays], [tesqsrch.posseg.lcut(e) for e in essays[:20]])


def test_eight_threads_give_identical_results(corpus):
    words, queries, essays = corpus
    expected = answers(words, queries, essays)
    results = [None] * 8
    barrier = threading.Barrier(8)

    def work(i):
        barrier.wait()
        results[i] = answers(words, queries, essays)

    threads = [threading.Thread(target=work, args=(i,)) for i in range(8)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    assert all(r == expected for r in results)


def test_first_use_from_eight_threads_at_once_initialises_once():
    code = """
import threading, tesqsrch
out = [None] * 8
barrier = threading.Barrier(8)
def work(i):
    barrier.wait()
    out[i] = tesqsrch.label('9787111123453')
threads = [threading.Thread(target=work, args=(i,)) for i in range(8)]
[t.start() for t in threads]; [t.join() for t in threads]
print(out)
"""
    from conftest import run_python
    proc = run_python(code)
    assert proc.stdout == str(["ISBN"] * 8) + "\n", proc.stderr


def in_child(function):
    """Runs `function` in a forked child; its pickled result."""
    read, write = os.pipe()
    pid = os.fork()
    if pid == 0:
        try:
            os.close(read)
            with os.fdopen(write, "wb") as out:
                pickle.dump(function(), out)
        finally:
            os._exit(0)
    os.close(write)
    with os.fdopen(read, "rb") as f:
        data = f.read()
    _, status = os.waitpid(pid, 0)
    assert status == 0
    return pickle.loads(data)


def test_a_forked_child_answers_as_the_parent(corpus):
    words, queries, essays = corpus
    tesqsrch.init()
    expected = answers(words[:50], queries[:50], essays[:10])
    assert in_child(lambda: answers(words[:50], queries[:50], essays[:10])) == expected


def test_a_child_forked_before_init_initialises_itself():
    from conftest import run_python
    code = """
import os, tesqsrch
pid = os.fork()
if pid == 0:
    print('child', tesqsrch.label('1234-5679'), flush=True); os._exit(0)
os.waitpid(pid, 0)
print('parent', tesqsrch.label('1234-5679'))
"""
    proc = run_python(code)
    assert proc.stdout == "child ISSN\nparent ISSN\n", proc.stderr


def test_fork_while_another_thread_holds_the_init_lock():
    """The child gets a lock of its own, so it never waits for a thread it does not have."""
    from conftest import run_python
    code = """
import os, threading, tesqsrch
from tesqsrch import _core
_core._State.lock.acquire()
pid = os.fork()
if pid == 0:
    print('child', tesqsrch.label('1234-5679'), flush=True); os._exit(0)
_core._State.lock.release()
os.waitpid(pid, 0)
"""
    proc = run_python(code, timeout=60)
    assert proc.stdout == "child ISSN\n", proc.stderr
