#!/usr/bin/env python3
"""Writes a "Trade" table file of N trades for benchmarks: make_trades.py N FILE."""
import sys

COLUMNS = ("rev,init_name,init_action,init_pair,init_memo,conf_name,conf_action,conf_pair,"
           "conf_memo,issue_name,status,price,qty,volume,trade_moment,affirm_moment,"
           "price_currency,price_rate,payment_currency,payment_rate,delivery_date,clear,dcc,type,"
           "type_ext,trade_ref,repo_action,repurchase")


def main():
    count, path = int(sys.argv[1]), sys.argv[2]
    firms = ["NORDBANK", "ALPHACAP", "RIVERSEC", "OAKTRUST", "MERIDIAN"]
    with open(path, "w", newline="") as out:
        out.write(COLUMNS + "\r\n")
        for n in range(count):
            init, conf = firms[n % 5], firms[(n + 2) % 5]
            repo = n % 7 == 0
            second = n % 86400
            moment = "2026-12-%02d %02d:%02d:%02d" % (1 + n % 28, second // 3600, second // 60 % 60,
                                                     second % 60)
            out.write(",".join([
                str(n + 1), init, "B", "C%03d" % (n % 997), "memo %d" % n, conf, "S",
                "C%03d" % (n % 991), "", "BOND-2031", "2", "%d.%02d" % (90 + n % 20, n % 100),
                str(10 + n % 90), str(1000 + n), moment, moment + ".500", "EUR", "1", "CHF",
                "0.9412", "2026-12-%02d" % (1 + (n + 2) % 28), "CLR", "DCC1",
                "P" if repo else "N", "R1" if repo else "N1", "T%07d" % n,
                "1" if repo else "", "101.25" if repo else ""]) + "\r\n")


if __name__ == "__main__":
    main()
