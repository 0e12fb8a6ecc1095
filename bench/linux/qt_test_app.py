#!/usr/bin/python3
"""A Qt 5 window for the measurements, laid out as tests/e2e/gtk_test_app.py lays out its GTK one:
a line edit, two buttons, with --filler N that many labels in rows, and a multi-line text edit.
Qt's root object offers no search for the focused element, so it is found by walking the window.
Reads focus targets ("entry", "button", "textview") from standard input."""

import argparse
import os
import sys

os.environ.setdefault("QT_LINUX_ACCESSIBILITY_ALWAYS_ON", "1")

from PyQt5.QtCore import QSocketNotifier  # noqa: E402
from PyQt5.QtWidgets import (QApplication, QGridLayout, QHBoxLayout, QLabel, QLineEdit, QPlainTextEdit,  # noqa: E402
                             QPushButton, QScrollArea, QVBoxLayout, QWidget)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--focus", default="entry")
    parser.add_argument("--filler", type=int, default=0)
    parser.add_argument("--title", default="focusprobe qt window")
    options = parser.parse_args()

    app = QApplication(["focusprobe-qt-test"])
    app.setApplicationName("Focusprobe Qt Test")
    window = QWidget()
    window.setWindowTitle(options.title)
    window.resize(600, 500)
    outer = QVBoxLayout(window)

    entry = QLineEdit("hello")
    outer.addWidget(entry)
    buttons = QHBoxLayout()
    send = QPushButton("Send")
    buttons.addWidget(send)
    buttons.addWidget(QPushButton("Clear"))
    outer.addLayout(buttons)

    if options.filler > 0:
        # Rows of labels ahead of the text edit, as in the GTK window.
        grid_widget = QWidget()
        grid = QGridLayout(grid_widget)
        for i in range(options.filler):
            grid.addWidget(QLabel(str(i)), i // 50, i % 50)
        scroller = QScrollArea()
        scroller.setWidget(grid_widget)
        outer.addWidget(scroller)

    view = QPlainTextEdit("draft text")
    outer.addWidget(view)
    widgets = {"entry": entry, "button": send, "textview": view}

    window.show()
    window.activateWindow()
    widgets[options.focus].setFocus()

    def command():
        line = sys.stdin.readline().strip()
        if not line:
            app.quit()
        elif line in widgets:
            window.activateWindow()
            widgets[line].setFocus()

    notifier = QSocketNotifier(sys.stdin.fileno(), QSocketNotifier.Read)
    notifier.activated.connect(command)
    print("ready", flush=True)
    sys.exit(app.exec_())


if __name__ == "__main__":
    main()
