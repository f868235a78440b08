"""python -m tesqsrch word|search|essay ...: the tool's query commands, through this package.

Exit statuses as tesq's: 0 done, 1 failed, 2 usage error or text that cannot be given to the
library, 3 (word) no category.
"""
import argparse
import json
import sys

from . import _core


def _parser():
    parser = argparse.ArgumentParser(prog="python -m tesqsrch", description="Query analysis from Python.")
    commands = parser.add_subparsers(dest="command", required=True)
    for name, text in (("word", "prints the category label of WORD"),
                       ("search", "prints the XML query document of QUERY (words joined by spaces)"),
                       ("essay", "segments FILE (default: standard input) with names merged")):
        command = commands.add_parser(name, help=text, description=text)
        command.add_argument("--data-dir", help="directory of the dictionaries (TESQ_DATA_DIR)")
        command.add_argument("--db", help="term database, a file or a postgresql:// URI (TESQ_DB)")
        if name == "word":
            command.add_argument("word")
        elif name == "search":
            command.add_argument("query", nargs="+")
        else:
            command.add_argument("file", nargs="?", default="-")
            command.add_argument("--format", choices=("inline", "json"), default="inline")
    return parser


def _inline(tokens, out):
    line_has_words = False
    for token in tokens:
        if token.text.strip(" \t\r\n\f\v") == "":
            for _ in range(token.text.count("\n")):
                out.write("\n")
                line_has_words = False
            continue
        if line_has_words:
            out.write(" ")
        out.write(f"{token.text}/{token.tag}")
        line_has_words = True


def _json(tokens, out):
    for t in tokens:
        out.write(json.dumps({"text": t.text, "tag": t.tag, "tag_name": t.tag_name, "start": t.byte_start,
                              "end": t.byte_end}, ensure_ascii=False, separators=(",", ":")) + "\n")


def main(argv=None) -> int:
    args = _parser().parse_args(argv)
    prefix = f"python -m tesqsrch {args.command}"
    try:
        text = None
        if args.command == "essay":
            if args.file == "-":
                text = sys.stdin.read()
            else:
                with open(args.file, encoding="utf-8") as handle:
                    text = handle.read()
        elif args.command == "word":
            _core._encode(args.word)
        else:
            _core._encode(" ".join(args.query))
    except (_core.EncodingError, UnicodeDecodeError) as error:
        print(f"{prefix}: the input cannot be given to the library: {error}", file=sys.stderr)
        return 2
    except OSError as error:
        print(f"{prefix}: {error}", file=sys.stderr)
        return 1
    try:
        _core.init(data_dir=args.data_dir, db=args.db)
        if args.command == "word":
            result = _core.label(args.word)
            if result is None:
                print(f"{prefix}: no category", file=sys.stderr)
                return 3
            print(result)
        elif args.command == "search":
            print(_core.analyze_xml(" ".join(args.query)))
        else:
            (_json if args.format == "json" else _inline)(_core.iter_essay(text), sys.stdout)
            sys.stdout.flush()
    except _core.EncodingError as error:
        print(f"{prefix}: the input cannot be given to the library: {error}", file=sys.stderr)
        return 2
    except (_core.TesqError, _core.LibraryNotFoundError) as error:
        print(f"{prefix}: {error}", file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
