"""Reading what arrived: the stored message that a `message_added` change names.

A `model_changed` event says what changed and where; what it holds is read from `model()`. The
model's maps are keyed by names folded with the server's casemapping, which the CASEMAPPING
token of an `isupport_token` event names, not by `str.lower()`: under rfc1459, the default,
"[]\\~" fold to "{}|^" as well. README.md shows this file.
"""


# --8<-- the reading the README shows
UPPER, LOWER = "ABCDEFGHIJKLMNOPQRSTUVWXYZ", "abcdefghijklmnopqrstuvwxyz"
FOLDS = {  # by the value of CASEMAPPING; any other value folds as rfc1459
    "ascii": str.maketrans(UPPER, LOWER),
    "rfc1459-strict": str.maketrans(UPPER + "[]\\", LOWER + "{}|"),
    "rfc1459": str.maketrans(UPPER + "[]\\~", LOWER + "{}|^"),
}


class Names:
    """Folds names as the model's keys hold them, following the server's CASEMAPPING."""

    def __init__(self):
        self.table = FOLDS["rfc1459"]

    def see(self, event):
        if event["type"] == "isupport_token" and event["token"] == "CASEMAPPING":
            self.table = FOLDS.get(event["value"], FOLDS["rfc1459"])

    def fold(self, name):
        return name.translate(self.table)


def stored_message(model, names, change):
    """The message a message_added change names, or None when its log no longer holds it."""
    key = names.fold(change["target"])  # a channel, or the other side of a conversation
    place = model["channels"].get(key) or model["conversations"].get(key)
    for message in reversed(place["log"]["messages"] if place else []):  # oldest first
        if message["key"] == change["key"]:
            return message
    return None
# --8<--
