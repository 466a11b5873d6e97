"""Session.choices: a control's itemset evaluated against the answers so far."""

import pytest

import tovarn
from support import HEAD

CITIES = ('<instance id="cities"><root>'
          '<item><name>ny</name><state>NY</state><label>New York</label></item>'
          '<item><name>al</name><state>NY</state><label>Albany</label></item>'
          '<item><name>la</name><state>CA</state><label>Los Angeles</label></item>'
          '<item><name> </name><state>CA</state><label>blank</label></item>'
          '<item><state>CA</state><label>no value</label></item>'
          '</root></instance>')
ITEXT = ('<itext><translation lang="en">'
         '<text id="ny"><value>Big Apple</value></text>'
         '</translation></itext>')


def form(body, itext=ITEXT):
    return (f"{HEAD}<instance><data><state/><city/><q/></data></instance>{CITIES}{itext}"
            '<bind nodeset="/data/city" type="string"/></model></h:head>'
            f"<h:body>{body}</h:body></h:html>")


def select(nodeset, value='<value ref="name"/>', label='<label ref="label"/>', ref="/data/city"):
    return f'<select1 ref="{ref}"><itemset nodeset="{nodeset}">{value}{label}</itemset></select1>'


FILTERED = select("instance('cities')/root/item[state = /data/state]")


def test_filter_follows_the_answers():
    s = tovarn.Session(form(FILTERED))
    assert s.choices("/data/city") == []
    s.set("/data/state", "NY")
    assert s.choices("/data/city") == [{"value": "ny", "label": "New York"},
                                       {"value": "al", "label": "Albany"}]
    s.set("/data/state", "CA")
    # Blank and missing values are left out.
    assert s.choices("/data/city") == [{"value": "la", "label": "Los Angeles"}]
    assert list(s.choices("/data/city")[0]) == ["value", "label"]


@pytest.mark.parametrize("body, path, expected", [
    (FILTERED, " /data/city ", [{"value": "ny", "label": "New York"}, {"value": "al", "label": "Albany"}]),
    (select("instance('cities')/root/item[state = 'NY']", label=""), "/data/city",
     [{"value": "ny", "label": "ny"}, {"value": "al", "label": "al"}]),
    (select("instance('cities')/root/item[name = 'ny']",
            label='<label ref="jr:itext(name)"/>'), "/data/city",
     [{"value": "ny", "label": "Big Apple"}]),
    (select("instance('cities')/root/item[name = 'la']", value='<value ref="state"/>'), "/data/city",
     [{"value": "CA", "label": "Los Angeles"}]),
    (select("instance('cities')/root/item", value='<value ref="./name"/>'), "/data/city", []),
    (select("instance('cities')/root/item", value=""), "/data/city",
     [{"value": "ny", "label": "New York"}, {"value": "al", "label": "Albany"},
      {"value": "la", "label": "Los Angeles"}]),
    (select("instance('cities')/root/item[state = 'NY' and today() = '']", label=""), "/data/city",
     [{"value": "ny", "label": "ny"}, {"value": "al", "label": "al"}]),
    (select("instance('cities')/root/item[count(//item | ../../..) = 0]", label=""), "/data/city",
     [{"value": "ny", "label": "ny"}, {"value": "al", "label": "al"}, {"value": "la", "label": "la"}]),
    (select("instance('towns')/root/item"), "/data/city", []),
    (select("1 + 1"), "/data/city", []),
    (select("instance('cities')/root/item[", label=""), "/data/city", None),
    ('<select1 ref="/data/city"><itemset><value ref="name"/></itemset></select1>', "/data/city", None),
    ('<select1 ref="/data/city"><item><label>A</label><value>a</value></item></select1>',
     "/data/city", None),
    (FILTERED, "/data/q", None),
    (FILTERED, "/data/state", None),
], ids=["trimmed-ref", "no-label", "itext-label", "value-name", "value-ref-is-a-name", "default-value-name",
        "today-is-empty", "filter-reads-primary-instance-alone", "unknown-instance", "not-a-node-set", "does-not-parse", "no-nodeset",
        "static-items", "no-control", "other-control"])
def test_choices(body, path, expected):
    s = tovarn.Session(form(body), today="2024-05-01")
    s.set("/data/state", "NY")
    assert s.choices(path) == expected


def test_labels_in_the_default_language():
    itext = ('<itext><translation lang="fr"><text id="ny"><value>Grosse Pomme</value></text></translation>'
             '<translation lang="en" default="true()"><text id="ny"><value>Big Apple</value></text>'
             '</translation></itext>')
    body = select("instance('cities')/root/item[name = 'ny']", label='<label ref="jr:itext(name)"/>')
    assert tovarn.Session(form(body, itext)).choices("/data/city") == [{"value": "ny", "label": "Big Apple"}]


def test_choices_of_the_first_control_bound_to_the_path():
    body = select("instance('cities')/root/item[state = 'CA']") + FILTERED
    assert tovarn.Session(form(body)).choices("/data/city") == [{"value": "la", "label": "Los Angeles"}]


def test_choices_changes_nothing():
    s = tovarn.Session(form(FILTERED))
    s.set("/data/state", "NY")
    before = s.instance_xml()
    s.choices("/data/city")
    assert s.instance_xml() == before
