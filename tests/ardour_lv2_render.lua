-- SPDX-License-Identifier: GPL-3.0-or-later
-- Guards the LV2 face against a real host's event buffers: Ardour 7's headless Lua session plays
-- three notes from a MIDI region through Corvex and exports the result; lv2_ardour_test.sh runs
-- it and hands the export to ardour-render-check, which renders the same notes through the core.
--   ardour7-lua ardour_lv2_render.lua WORK_DIR EXPORT_WAV SCORE
-- Needs LV2_PATH to hold the bundle, and XDG_CONFIG_HOME pointing at a scratch folder: the export
-- format is written into Ardour's configuration there, the only place its exporter reads from.
-- Writes the export (2 channels of 32-bit float at the session's rate) to EXPORT_WAV, and to
-- SCORE the messages as Ardour places them ("event FRAME STATUS DATA1 DATA2", after "rate",
-- "block", "phase" and "frames"). Exits 77 (skipped) when Ardour's engine or session cannot
-- start here at all, 1 on anything else that goes wrong.
io.stdout:setvbuf("no")

local work_dir, export_wav, score_path = arg[1], arg[2], arg[3]
assert(work_dir and export_wav and score_path,
  "usage: ardour_lv2_render.lua WORK_DIR EXPORT_WAV SCORE")

local plugin_uri = "https://ondrel.example/plugins/corvex"
local rate, block, frames = 48000, 1024, 40000
-- None of these frames starts one of Ardour's cycles (ardour-render-check makes sure), so an event
-- put at its cycle's first frame plays early. At 120 beats a minute and 48 kHz, Ardour's tick
-- (1/1920 beat) is 12.5 frames: frames that are multiples of 25 are whole ticks, which the tempo
-- map turns back into the same frame.
local notes = {
  { on = 3000, off = 8000, key = 60 },
  { on = 10000, off = 15500, key = 67 },
  { on = 20500, off = 26000, key = 55 },
}

local function skip(why)
  print("skipped: " .. why)
  os.exit(77)
end

-- An export format that leaves the samples as the session made them: float, the session's rate,
-- no dither, no normalisation, no silence trimmed or added.
local format_id = "5c0d4a52-8a0e-4c7e-9d1f-3b6a2f1e9c01"
local preset_id = "9e7b1c3a-2f4d-4b8e-a6c5-0d1e2f3a4b5c"
local function write_file(path, text)
  local file = assert(io.open(path, "w"))
  file:write(text)
  file:close()
end
local export_config = ARDOUR.LuaAPI.build_filename(ARDOUR.user_config_directory(-1), "export")
assert(os.execute("mkdir -p '" .. export_config .. "'"))
write_file(export_config .. "/corvex-test.format", [[<?xml version="1.0" encoding="UTF-8"?>
<ExportFormatSpecification name="Corvex test" id="]] .. format_id .. [[" with-cue="false" with-toc="false" with-mp4chaps="false" command="" analyse="false" soundcloud-upload="false">
  <Encoding id="F_WAV" type="T_Sndfile" extension="wav" name="WAV" has-sample-format="true" channel-limit="256"/>
  <SampleRate rate="SR_Session"/>
  <SRCQuality quality="SRC_SincBest"/>
  <EncodingOptions>
    <Option name="sample-format" value="SF_Float"/>
    <Option name="dithering" value="D_None"/>
    <Option name="tag-metadata" value="false"/>
    <Option name="tag-support" value="false"/>
    <Option name="broadcast-info" value="false"/>
  </EncodingOptions>
  <Processing>
    <Normalize enabled="false" loudness="false" dbfs="0" lufs="-23" dbtp="-1"/>
    <Silence>
      <Start><Trim enabled="false"/><Add enabled="false"><Duration format="Samples" samples="0"/></Add></Start>
      <End><Trim enabled="false"/><Add enabled="false"><Duration format="Samples" samples="0"/></Add></End>
    </Silence>
  </Processing>
</ExportFormatSpecification>
]])
write_file(export_config .. "/corvex-test.preset", [[<?xml version="1.0" encoding="UTF-8"?>
<ExportPreset id="]] .. preset_id .. [[" name="Corvex test">
  <ExportFormat id="]] .. format_id .. [["/>
  <ExportFilename>
    <Folder relative="1" path="export"/>
    <Field name="label" enabled="0"/>
    <Field name="session" enabled="0"/>
    <Field name="snapshot" enabled="0"/>
    <Field name="timespan" enabled="1"/>
    <Field name="revision" enabled="0"/>
    <Field name="time" enabled="0" value="T_None"/>
    <Field name="date" enabled="0" value="D_None"/>
  </ExportFilename>
</ExportPreset>
]])

-- The dummy backend: no sound card here. Exporting freewheels it, in cycles of its buffer size.
local backend = AudioEngine:set_backend("None (Dummy)", "corvex-test", "")
if not backend or backend:isnil() then skip("Ardour has no dummy audio backend") end
backend:set_buffer_size(block)
local session = create_session(work_dir .. "/session", "corvex", rate)
if not session then skip("Ardour could not start a session on its dummy backend") end
assert(session:get_block_size() == block,
  "cycles of " .. session:get_block_size() .. " frames, not " .. block)
assert(session:nominal_sample_rate() == rate,
  "session at " .. session:nominal_sample_rate() .. " Hz")

-- Everything that holds on to the session's objects lives in here: the references Lua keeps
-- must be gone before the session closes, or the last of them destroys a track after the engine
-- has gone.
local function play_and_export()
  local info = ARDOUR.LuaAPI.new_plugin_info(plugin_uri, ARDOUR.PluginType.LV2)
  assert(not info:isnil(), "Ardour finds no LV2 plug-in " .. plugin_uri .. " on LV2_PATH")
  -- MIDI in and out, as Ardour's own add-track dialog asks; the instrument adds the audio
  -- outputs. (Asking for two audio outputs here makes Ardour 7.3 register them twice now and
  -- then, and abort.)
  local midi = ARDOUR.DataType("midi")
  local tracks = session:new_midi_track(ARDOUR.ChanCount(midi, 1), ARDOUR.ChanCount(midi, 1),
    true, info, nil, nil, 1, "Synth", ARDOUR.PresentationInfo.max_order, ARDOUR.TrackMode.Normal,
    true, false)
  assert(tracks:size() == 1, "no MIDI track")
  local route = tracks:front()
  assert(not route:the_instrument():isnil(), "Corvex is not the track's instrument")
  assert(route:n_outputs():n_audio() == 2,
    "the track has " .. route:n_outputs():n_audio() .. " audio outputs")
  local track = route:to_track()

  -- Ardour 7.3's Lua makes no MIDI source of its own; bouncing the empty track's MIDI (no
  -- endpoint) does, and gives the region the whole export covers.
  local region = track:bounce_range(0, frames, ARDOUR.InterThreadInfo(), ARDOUR.LuaAPI.nil_proc(),
    false, "notes", false)
  assert(not region:isnil() and not region:to_midiregion():isnil(),
    "no MIDI region from the bounce")

  -- Notes live in beats. Each frame goes through the tempo map and back, so the score holds the
  -- frames Ardour plays them at.
  local tempo_map = Temporal.TempoMap.read()
  local function beats_at(frame)
    local beats = tempo_map:quarters_at_sample(frame)
    local back = tempo_map:sample_at_beats(beats)
    assert(back == frame,
      "frame " .. frame .. " is beat " .. beats:str() .. ", which is frame " .. back)
    return beats
  end
  local model = region:to_midiregion():model()
  local diff = model:new_note_diff_command("notes")
  local events = {}
  for _, n in ipairs(notes) do
    local on = beats_at(n.on)
    local note = ARDOUR.LuaAPI.new_noteptr(0, on, beats_at(n.off) - on, n.key, 100)
    diff:add(note)
    events[#events + 1] = string.format("event %d %d %d %d", n.on, 0x90, n.key,
      note:velocity())
    events[#events + 1] = string.format("event %d %d %d %d", n.off, 0x80, n.key,
      note:off_velocity())
  end
  model:apply_command(session, diff)
  assert(ARDOUR.LuaAPI.note_list(model):size() == #notes, "the region holds no notes")
  track:playlist():add_region(region, Temporal.timepos_t(0), 1, false)

  -- The master bus's output, over exactly the frames of the score.
  local export = session:simple_export()
  assert(export:set_preset(preset_id),
    "Ardour did not read the export preset from " .. export_config)
  export:set_folder(work_dir .. "/export")
  export:set_name("corvex")
  export:set_range(0, frames)
  assert(export:check_outputs(), "nothing to export: no master bus")
  -- Ardour plays ahead by its outputs' latency, so that a frame's sound reaches them when the
  -- timeline says: in the export's frames its cycles start that far in, not at frame 0. (Read
  -- here: just after the track is made, the latency is now and then still being worked out.)
  local latency = session:worst_output_latency()
  assert(export:run_export(), "the export failed")
  assert(session:worst_output_latency() == latency, "the outputs' latency changed while exporting")
  return events, latency % block
end
local events, phase = play_and_export()
collectgarbage()
collectgarbage()
close_session()

assert(os.rename(work_dir .. "/export/corvex.wav", export_wav))
write_file(score_path, string.format("rate %d\nblock %d\nphase %d\nframes %d\n%s\n", rate, block,
  phase, frames, table.concat(events, "\n")))
print(string.format("exported %d frames in cycles of %d from frame %d: notes at %d, %d and %d",
  frames, block, phase, notes[1].on, notes[2].on, notes[3].on))
