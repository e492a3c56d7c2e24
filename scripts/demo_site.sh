#!/bin/sh
# Serves Velunor's demo novel sites on 127.0.0.1 (port 8808 unless given), for the rule files
# data/Rule/00-demo.xml, 01-demo-utf8.xml, 02-demo-shuge.xml and 03-demo-shulin.xml (whose
# search engine answers on localhost at the same port).
exec python3 "$(dirname "$0")/../demo/demo_site.py" "$@"
