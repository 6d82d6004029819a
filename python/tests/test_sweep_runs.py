import json
import os
import signal
import subprocess
import time

import pytest

import sweeping


def test_sweep_measures_keeps_and_resumes(tmp_path):
    vorlan = sweeping.vorlan_or_skip()
    sweeping.crops(str(tmp_path / 'pictures'))
    (tmp_path / 'pictures' / 'damaged.png').write_bytes(b'\x89PNG\r\n\x1a\n' + b'\0' * 40)
    tools = str(tmp_path / 'tools')
    sweeping.tool(tools, 'cwebp', 'echo "simulated fault" >&2; exit 3')
    env_path = tools
    args = ['--images', str(tmp_path / 'pictures'), '--rates', '0.5,1', '--codecs', 'vorlan,jpeg,webp',
            '--vorlan', vorlan, '--jobs', '2', '--db', 'r.sqlite', '--quiet']
    first = sweeping.run_sweep(args, str(tmp_path), env_path)
    table = sweeping.rows(str(tmp_path / 'r.sqlite'))
    # 3 pictures x 3 codecs x 2 rates; the damaged one fails all of its rows.
    assert len(table) == 18, first.stderr
    by = {}
    for row in table.values():
        by.setdefault((row['name'], row['codec']), []).append(row)
    for name in ('camera.png', 'astronaut.png'):
        points = sorted(by[(name, 'vorlan')], key=lambda r: r['target'])
        for row in points:
            assert row['status'] == 'done', row['reason']
            assert abs(row['bpp'] - row['target']) <= 0.02 * row['target'], row
            assert row['width'] == row['height'] == 64 and row['program'].startswith('vorlan-sweep 1.0; vorlan ')
            assert row['bytes'] * 8 / 64 / 64 == pytest.approx(row['bpp'])
            runs = json.loads(row['runs'])
            assert [r['outcome'] for r in runs] == ['Done', 'Done']
            assert any(s.startswith('encoder.maxRanges=') for s in runs[0]['overrides']['settings'])
            assert 0 < row['ssim'] <= 1 and row['attempts'] >= 1 and row['encode_seconds'] > 0
        assert points[0]['psnr'] < points[1]['psnr']
        assert all(r['status'] == 'done' and r['psnr'] > 15 for r in by[(name, 'jpeg')])
        assert all(r['status'] == 'failed' and 'simulated fault' in r['reason'] for r in by[(name, 'webp')])
    damaged = by[('damaged.png', 'vorlan')] + by[('damaged.png', 'jpeg')]
    assert all(r['status'] == 'failed' and 'not a readable picture' in r['reason'] for r in damaged)
    assert '18 rows computed (10 failed)' in first.stderr

    # Run again: every row is there, nothing is computed; the report and the
    # export read the same rows.
    again = sweeping.run_sweep(args + ['--report', 'rep', '--export', 'json', '--output', 'rows.json'],
                               str(tmp_path), env_path)
    assert '18 of 18 rows are already in r.sqlite' in again.stderr and 'computed' not in again.stderr
    # The failed rows failed for reasons of their own: they are kept, and the
    # sweep says so and how to compute them again.
    assert '18 of 18 rows are already in r.sqlite, 10 of them failed' in again.stderr
    assert '10 failed rows skipped (--retry-failed computes them again)' in again.stderr
    assert sweeping.rows(str(tmp_path / 'r.sqlite')) == table
    exported = json.loads((tmp_path / 'rows.json').read_text())
    assert exported['format'] == 'vorlan-sweep-rows' and len(exported['rows']) == 18
    page = (tmp_path / 'rep' / 'index.html').read_text()
    assert 'camera.png' in page and 'simulated fault' in page
    figures = json.loads((tmp_path / 'rep' / 'bd.json').read_text())
    assert [c['codec'] for c in figures['pictures'][0]['curves']] == ['vorlan']


def test_command_line_faults_are_reported(tmp_path, monkeypatch, capsys):
    from vorlan_workbench.sweep_main import main

    sweeping.crops(str(tmp_path))
    monkeypatch.chdir(tmp_path)
    monkeypatch.setenv('VORLAN_EXAMPLES', sweeping.environment()['VORLAN_EXAMPLES'])
    picture = str(tmp_path / 'camera.png')

    def fails(args, status, message):
        assert main(args) == status, args
        err = capsys.readouterr().err
        assert message in err, (args, err)
        return err

    for args, message in (
            (['--images', picture, '--rates', '0.5,-1'], 'positive bits per pixel'),
            (['--images', picture, '--codecs', 'jpeg,gif'], 'unknown codec gif'),
            (['--images', picture, '--grid', 'maxRanges=1,2'], 'CAPTION.FIELD='),
            (['--images', str(tmp_path / 'none.png')], 'no such file'),
            (['--report', 'out', '--db', 'missing.sqlite'], 'no such database'),
            ([], 'nothing to do')):
        assert "Try 'vorlan-sweep --help'" in fails(args, 2, message)
    (tmp_path / 'junk.sqlite').write_text('junk' * 1000)
    fails(['--images', picture, '--codecs', 'jpeg', '--db', 'junk.sqlite', '--quiet'], 1, 'not a sweep database')
    vorlan = sweeping.vorlan_or_skip()
    err = fails(['--images', picture, '--codecs', 'vorlan', '--vorlan', vorlan, '--grid', 'encodr.stepX=4,8'], 2,
                "no node captioned 'encodr'")
    assert 'encoder' in err


def _slow_jpeg(tools):
    sweeping.tool(tools, 'cjpeg', 'sleep 0.05; exec REAL "$@"')


def test_a_killed_client_resumes_with_the_missing_rows(tmp_path):
    sweeping.crops(str(tmp_path / 'pictures'))
    tools = str(tmp_path / 'tools')
    _slow_jpeg(tools)
    args = ['--images', str(tmp_path / 'pictures'), '--rates', '0.5,1,2', '--codecs', 'jpeg', '--jobs', '1',
            '--db', 'r.sqlite', '--quiet']
    client = subprocess.Popen(sweeping.sweep_command() + args, cwd=str(tmp_path), env=sweeping.environment(tools, str(tmp_path / 'scratch')),
                              stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, start_new_session=True)
    db = str(tmp_path / 'r.sqlite')
    deadline = time.monotonic() + 120
    try:
        while time.monotonic() < deadline:
            if sweeping.count(db) >= 2:
                break
            assert client.poll() is None, 'the sweep ended before it could be killed'
            time.sleep(0.05)
    finally:
        os.killpg(client.pid, signal.SIGKILL)  # the client, its workers and their tools
        client.wait()
    kept = sweeping.rows(db)
    assert 2 <= len(kept) < 6 and all(r['status'] == 'done' for r in kept.values())
    resumed = sweeping.run_sweep(args, str(tmp_path), tools)
    assert f'{len(kept)} of 6 rows are already' in resumed.stderr
    assert f'{6 - len(kept)} rows computed (0 failed)' in resumed.stderr
    table = sweeping.rows(db)
    assert len(table) == 6 and all(table[k] == row for k, row in kept.items())


def test_a_lost_local_worker_loses_nothing(tmp_path):
    sweeping.crops(str(tmp_path / 'pictures'))
    tools = str(tmp_path / 'tools')
    sweeping.worker_killer(tools)
    result = sweeping.run_sweep(['--images', str(tmp_path / 'pictures'), '--rates', '0.5,1', '--codecs', 'jpeg',
                                 '--jobs', '2', '--db', 'r.sqlite', '--quiet'], str(tmp_path), tools)
    assert os.path.isdir(os.path.join(tools, 'cjpeg.killed'))
    assert 'a worker was lost' in result.stderr
    table = sweeping.rows(str(tmp_path / 'r.sqlite'))
    assert len(table) == 4 and all(r['status'] == 'done' for r in table.values())


def test_ctrl_c_keeps_finished_rows_and_unwinds_the_points_under_way(tmp_path):
    # Ctrl+C reaches the whole process group: the client ends its workers,
    # whose points unwind (tools killed, scratch folders removed); finished
    # rows stay, none is marked failed, and the same command resumes.
    sweeping.crops(str(tmp_path / 'pictures'))
    tools = str(tmp_path / 'tools')
    sweeping.tool(tools, 'cjpeg', 'sleep 0.2; exec REAL "$@"')
    args = ['--images', str(tmp_path / 'pictures'), '--rates', '0.5,1', '--codecs', 'jpeg', '--jobs', '2',
            '--db', 'r.sqlite', '--quiet']
    client = subprocess.Popen(sweeping.sweep_command() + args, cwd=str(tmp_path),
                              env=sweeping.environment(tools, str(tmp_path / 'scratch')), stdout=subprocess.DEVNULL,
                              stderr=subprocess.PIPE, text=True, start_new_session=True)
    db = str(tmp_path / 'r.sqlite')
    deadline = time.monotonic() + 120
    while sweeping.count(db) < 1 and time.monotonic() < deadline and client.poll() is None:
        time.sleep(0.05)
    os.killpg(client.pid, signal.SIGINT)
    err = client.communicate(timeout=60)[1]
    kept = sweeping.rows(db)
    if client.returncode == 0:
        pytest.skip('the sweep ended before Ctrl+C reached it')
    assert client.returncode == 130 and 'the same command resumes' in err, err
    assert 1 <= len(kept) < 4 and all(r['status'] == 'done' for r in kept.values())
    assert not [n for n in os.listdir(tmp_path / 'scratch') if n.startswith('vorlan-sweep-')], 'scratch left'
    resumed = sweeping.run_sweep(args, str(tmp_path), tools)
    assert f'{4 - len(kept)} rows computed (0 failed)' in resumed.stderr


def test_failed_rows_wait_for_retry_failed(tmp_path):
    # A row that failed for its own reason (here a broken cjpeg) is not
    # computed again by a plain rerun, which says how many it skipped;
    # --retry-failed computes it once the tool is mended.
    sweeping.crops(str(tmp_path / 'pictures'))
    broken = str(tmp_path / 'broken')
    sweeping.tool(broken, 'cjpeg', 'echo "simulated fault" >&2; exit 3')
    args = ['--images', str(tmp_path / 'pictures'), '--codecs', 'jpeg', '--db', 'r.sqlite', '--quiet']
    first = sweeping.run_sweep(args + ['--rates', '0.5'], str(tmp_path), broken)
    assert '2 rows computed (2 failed)' in first.stderr
    mended = sweeping.run_sweep(args + ['--rates', '0.5,1'], str(tmp_path))
    assert '2 of 4 rows are already in r.sqlite, 2 of them failed' in mended.stderr
    assert '2 rows computed (0 failed); 2 failed rows skipped (--retry-failed computes them again)' in mended.stderr
    table = sweeping.rows(str(tmp_path / 'r.sqlite'))
    assert sorted(r['status'] for r in table.values()) == ['done', 'done', 'failed', 'failed']
    retried = sweeping.run_sweep(args + ['--rates', '0.5,1', '--retry-failed'], str(tmp_path))
    assert '2 rows computed (0 failed)' in retried.stderr and 'skipped' not in retried.stderr
    assert all(r['status'] == 'done' for r in sweeping.rows(str(tmp_path / 'r.sqlite')).values())
