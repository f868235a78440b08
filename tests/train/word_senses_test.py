#!/usr/bin/python3
"""The kinds word_senses.py reads from dictionary entries, on real entry shapes."""
import os
import sys
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), '..', '..', 'tools', 'dicts'))
import word_senses  # noqa: E402


class KindOf(unittest.TestCase):
    CASES = [
        # pinyin, definitions, kind
        ('Han2 Yu4', 'Han Yu (768-824), Tang dynasty essayist and poet', 'person'),
        ('Wei2 Ying4 wu4', 'Wei Yingwu (c. 737 – c. 792), Tang dynasty poet', 'person'),
        ('Mo4 Yan2', ['Mo Yan (1955-), Chinese novelist'], 'person'),
        ('Jin1 Yong1', 'Jin Yong, pen name of Louis Cha (1924-2018), wuxia novelist', 'person'),
        ('Qie1 ni2', 'Cheney (name)', 'person'),
        ('Tang2 dai4', 'Tang dynasty (618-907)', 'proper'),  # years, but the name is not the word's
        ('Ming2 chao2', 'Ming Dynasty (1368-1644)', 'proper'),
        ('Ai4 yin1 si1 tan3', 'Albert Einstein (1879-1955), physicist', 'person'),
        ('You1 zhou1', 'Youzhou, ancient province in north Hebei and Liaoning', 'place'),
        ('Run4 zhou1', 'see 潤州區|润州区[Run4 zhou1 Qu1]', 'place'),
        ('Mei2 shan1', 'see 眉山市[Mei2 shan1 Shi4]', 'place'),
        ('Bai2 di4 cheng2', 'Baidi town in Chongqing', 'place'),
        ('Teng2 wang2 Ge2', ['Tengwang Tower in Nanchang, Jiangxi'], 'proper'),
        ('Ha2 Li4 Bo1 te4', 'see 哈利·波特[Ha1 li4 · Bo1 te4]', 'proper'),
        ('xu3 ke3 zheng4', ['license', 'authorization', 'permit'], 'common'),
        ('ha1 xi1', ['hash (computing)'], 'common'),
        ('Tong3 yi1', '7-Eleven (convenience store chain)', 'proper'),
    ]

    def test_table(self):
        for pinyin, definitions, kind in self.CASES:
            self.assertEqual(word_senses.kind_of(pinyin, definitions), kind, (pinyin, definitions))


class NamesASurname(unittest.TestCase):
    CASES = [
        # word, pinyin, definitions, a surname
        ('金', 'Jin1', ['surname Jin'], True),
        ('金', 'jin1', ['gold', 'metal'], False),
        ('令狐', 'Ling2 hu2', ['two-character surname Linghu'], True),
        ('上官', 'shang4 guan1', ['high-ranking official', 'superior'], False),
        ('中村', 'Zhong1 cun1', ['Nakamura (Japanese surname)'], False),
        ('金子', 'Jin1 zi3', ['surname Jin'], False),  # a one-character definition on two characters
        ('令狐楚', 'Ling2 hu2 Chu3', ['two-character surname Linghu'], False),
    ]

    def test_table(self):
        for word, pinyin, definitions, surname in self.CASES:
            self.assertEqual(word_senses.names_a_surname(word, pinyin, definitions), surname, word)


if __name__ == '__main__':
    unittest.main()
