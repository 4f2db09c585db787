"""Checks one stored mail (the DATA content) with Python's email package, as a receiving mail
system would read it: exactly one From, Date and Message-ID, a Date that parses, a From with an
address, a Message-ID in angle brackets with an "@". Prints the three fields; exit status 0 when
the mail is sound, 1 otherwise (with the reason on standard error).

Usage: /usr/bin/python3 mail_check.py FILE
"""
import email
import email.policy
import email.utils
import sys


def main():
    with open(sys.argv[1], "rb") as f:
        message = email.message_from_binary_file(f, policy=email.policy.default)
    problems = []
    for field in ("From", "Date", "Message-ID"):
        if len(message.get_all(field, [])) != 1:
            problems.append("%s occurs %d times" % (field, len(message.get_all(field, []))))
    if not problems:
        if email.utils.parsedate_to_datetime(str(message["Date"])) is None:
            problems.append("Date does not parse")
        if "@" not in email.utils.parseaddr(str(message["From"]))[1]:
            problems.append("From has no address")
        mid = str(message["Message-ID"])
        if not (mid.startswith("<") and mid.endswith(">") and "@" in mid):
            problems.append("Message-ID is not <...@...>")
        if message.defects:
            problems.append("defects: %s" % message.defects)
    for field in ("From", "Date", "Message-ID", "Subject"):
        print("%s: %s" % (field, message.get(field)))
    if problems:
        print("; ".join(problems), file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
