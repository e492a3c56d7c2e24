#!/bin/sh
# Serves Velunor's demo novel site on 127.0.0.1 (port 8808 unless given), for the rule files
# data/Rule/00-demo.xml and data/Rule/01-demo-utf8.xml.
exec python3 "$(dirname "$0")/../demo/demo_site.py" "$@"
