-- zpapi 1.0: fingerprint templates in the database, their 1:1 match, the
-- quick score of a 1:N search, and a gallery of subjects searched next to
-- its rows (on the server's parallel workers, or on the shards of a
-- partitioned gallery).

\echo Use "CREATE EXTENSION zpapi" to load this file. \quit

-- Templates ------------------------------------------------------------------

-- True for the 256 bytes of a template the decoder accepts, whose stored
-- size fits the matching workspace and whose class code is 0; otherwise an
-- error naming the reason.
CREATE FUNCTION zp_check_template(bytea) RETURNS boolean
  AS 'MODULE_PATHNAME', 'zp_check_template' LANGUAGE C IMMUTABLE STRICT PARALLEL SAFE;

-- The reason bytes are no usable template, or NULL when they are one.
CREATE FUNCTION zp_template_rejection(bytea) RETURNS text
  AS 'MODULE_PATHNAME', 'zp_template_rejection' LANGUAGE C IMMUTABLE STRICT PARALLEL SAFE;

CREATE DOMAIN zptemplate AS bytea
  CONSTRAINT zptemplate_usable CHECK (@extschema@.zp_check_template(VALUE));
COMMENT ON DOMAIN zptemplate IS '256-byte fingerprint template, refused unless usable for matching';

-- The match driver's score 0..100.
CREATE FUNCTION zp_match_score(probe zptemplate, candidate zptemplate) RETURNS integer
  AS 'MODULE_PATHNAME', 'zp_match_score' LANGUAGE C IMMUTABLE STRICT PARALLEL SAFE COST 2000;

-- ZPMatch: same finger at security level 1 (most lenient) to 5.
CREATE FUNCTION zp_match(probe zptemplate, candidate zptemplate, level integer DEFAULT 3) RETURNS boolean
  AS 'MODULE_PATHNAME', 'zp_match' LANGUAGE C IMMUTABLE STRICT PARALLEL SAFE COST 2000;

-- ZPQuickMatch of candidate against probe (loaded once per call site).
CREATE FUNCTION zp_quick_score(probe zptemplate, candidate zptemplate) RETURNS integer
  AS 'MODULE_PATHNAME', 'zp_quick_score' LANGUAGE C IMMUTABLE STRICT PARALLEL SAFE COST 100;

CREATE FUNCTION zp_template_info(t zptemplate, OUT minutiae integer, OUT quality integer, OUT yield integer,
                                 OUT width integer, OUT height integer) RETURNS record
  AS 'MODULE_PATHNAME', 'zp_template_info' LANGUAGE C IMMUTABLE STRICT PARALLEL SAFE;

-- Minutiae in pixels of the working window, direction in degrees.
CREATE FUNCTION zp_minutiae(t zptemplate, OUT index integer, OUT x integer, OUT y integer,
                            OUT direction integer, OUT type text) RETURNS SETOF record
  AS 'MODULE_PATHNAME', 'zp_minutiae' LANGUAGE C IMMUTABLE STRICT PARALLEL SAFE ROWS 50;

-- ZPFingerExtract of a 256 x 384 raw 8-bit image (row by row, 500 dpi).
CREATE FUNCTION zp_extract(image bytea, threshold integer DEFAULT 0, min_yield integer DEFAULT 0) RETURNS zptemplate
  AS 'MODULE_PATHNAME', 'zp_extract' LANGUAGE C IMMUTABLE STRICT PARALLEL SAFE COST 100000;

-- Gallery rows ---------------------------------------------------------------

-- The checksum every gallery backend stores with a row (XXH3 over the
-- subject, the finger and the template).
CREATE FUNCTION zp_row_checksum(subject text, finger integer, template bytea) RETURNS bigint
  AS 'MODULE_PATHNAME', 'zp_row_checksum' LANGUAGE C IMMUTABLE STRICT PARALLEL SAFE;

-- True when a row passes its checksum; a damaged row raises an error naming
-- it, or answers false when damaged rows are skipped.
CREATE FUNCTION zp_row_sound(subject text, finger integer, slot integer, template bytea, checksum bigint,
                             skip_damaged boolean) RETURNS boolean
  AS 'MODULE_PATHNAME', 'zp_row_sound' LANGUAGE C IMMUTABLE STRICT PARALLEL SAFE;

-- "unknown", "right-thumb", ..., "left-little".
CREATE FUNCTION zp_finger_name(finger integer) RETURNS text
  AS 'MODULE_PATHNAME', 'zp_finger_name' LANGUAGE C IMMUTABLE STRICT PARALLEL SAFE;

-- Templates a finger keeps at most (its impressions and their windows).
CREATE FUNCTION zp_max_keep() RETURNS integer
  AS 'MODULE_PATHNAME', 'zp_max_keep' LANGUAGE C IMMUTABLE STRICT PARALLEL SAFE;

-- Fingers short-listed for a search answering top subjects (short_list 0:
-- the default length).
CREATE FUNCTION zp_short_list_length(top integer, short_list integer) RETURNS integer
  AS 'MODULE_PATHNAME', 'zp_short_list_length' LANGUAGE C IMMUTABLE STRICT PARALLEL SAFE;

-- The full match of a short list (rows in short-list order, each finger's
-- templates by slot) and the subjects ranked by the fused scores.
CREATE FUNCTION zp_rank_short_list(probe zptemplate, top integer, short_list integer, level integer,
                                   subjects text[], fingers integer[], quick integer[], templates bytea[])
  RETURNS TABLE (rank integer, subject text, finger integer, slot integer, quick integer, score integer, match boolean)
  AS 'MODULE_PATHNAME', 'zp_rank_short_list' LANGUAGE C IMMUTABLE STRICT PARALLEL SAFE;

-- The best of the given templates decides.
CREATE FUNCTION zp_verify_rows(probe zptemplate, level integer, fingers integer[], slots integer[], templates bytea[],
                               OUT finger integer, OUT slot integer, OUT score integer, OUT match boolean,
                               OUT compared integer) RETURNS record
  AS 'MODULE_PATHNAME', 'zp_verify_rows' LANGUAGE C IMMUTABLE STRICT PARALLEL SAFE;

-- The gallery -----------------------------------------------------------------

-- The layout version of the gallery found on the search path, or NULL.
CREATE FUNCTION zp_gallery_version() RETURNS integer LANGUAGE sql STABLE PARALLEL SAFE AS $$
  SELECT substring(obj_description(to_regclass('zp_templates'), 'pg_class') FROM 'zpapi gallery, layout ([0-9]+)')::integer
$$;

-- The gallery of the search path's zp_templates, or an error saying how to make one.
CREATE FUNCTION zp_gallery() RETURNS regclass LANGUAGE plpgsql STABLE PARALLEL SAFE AS $$
DECLARE
  gallery regclass := to_regclass('zp_templates');
BEGIN
  IF gallery IS NULL THEN
    RAISE EXCEPTION 'no zpapi gallery on the search path (%)', current_setting('search_path')
      USING ERRCODE = 'undefined_table', HINT = 'SELECT zp_create_gallery() creates one in the current schema';
  END IF;
  RETURN gallery;
END $$;

-- Creates the gallery in the current schema when missing and answers its
-- layout version. With shard servers named (postgres_fdw servers created
-- with extensions 'zpapi'), the gallery is partitioned by subject over one
-- foreign partition per server, each the server's own gallery in a schema
-- of the same name (made there by zp_create_gallery()).
CREATE FUNCTION zp_create_gallery(shards text[] DEFAULT NULL) RETURNS integer LANGUAGE plpgsql AS $$
DECLARE
  home text := current_schema();
  gallery text;
  i integer;
BEGIN
  IF home IS NULL THEN
    RAISE EXCEPTION 'zp_create_gallery: no current schema (the search path names none that exists)';
  END IF;
  gallery := format('%I.zp_templates', home);
  IF to_regclass(gallery) IS NOT NULL THEN
    RETURN @extschema@.zp_gallery_version();
  END IF;
  IF shards IS NOT NULL AND cardinality(shards) = 0 THEN
    RAISE EXCEPTION 'zp_create_gallery: no shard servers named';
  END IF;
  EXECUTE format($table$
    CREATE TABLE %s (
      subject text COLLATE "C" NOT NULL CHECK (subject <> ''),
      finger smallint NOT NULL CHECK (finger BETWEEN 0 AND 10),
      slot smallint NOT NULL CHECK (slot >= 0),
      window_index smallint NOT NULL DEFAULT 0 CHECK (window_index >= 0),
      impression text NOT NULL DEFAULT '',
      quality integer NOT NULL,
      template @extschema@.zptemplate NOT NULL,
      checksum bigint NOT NULL,
      enrolled timestamptz NOT NULL DEFAULT now()%s)%s$table$,
    gallery,
    CASE WHEN shards IS NULL THEN ', PRIMARY KEY (subject, finger, slot)' ELSE '' END,
    CASE WHEN shards IS NULL THEN '' ELSE ' PARTITION BY HASH (subject)' END);
  FOR i IN 1 .. coalesce(cardinality(shards), 0) LOOP
    EXECUTE format('CREATE FOREIGN TABLE %I.%I PARTITION OF %s FOR VALUES WITH (MODULUS %s, REMAINDER %s) '
                   'SERVER %I OPTIONS (schema_name %L, table_name %L)',
                   home, 'zp_templates_' || shards[i], gallery, cardinality(shards), i - 1, shards[i], home,
                   'zp_templates');
  END LOOP;
  EXECUTE format('COMMENT ON TABLE %s IS %L', gallery, 'zpapi gallery, layout 1');
  EXECUTE format($view$
    CREATE VIEW %I.zp_subjects AS
      SELECT subject, count(DISTINCT finger)::integer AS fingers, count(*)::integer AS templates,
             min(enrolled) AS enrolled
      FROM %s GROUP BY subject$view$, home, gallery);
  RETURN 1;
END $$;

-- Every template of the fingers best fingers comparable with probe_finger (0,
-- unknown, compares with all; a known finger with that position and with 0),
-- a finger's quick score being the best over its templates; best first, ties
-- in gallery order (subject in byte order, then position), each finger's
-- templates by slot. A row failing its checksum raises an error naming it,
-- or is left out with skip_damaged.
--
-- Each leaf of the gallery (the table itself, or each partition: subjects
-- never span partitions) answers its own best, so a sharded gallery ranks
-- its rows where they lie and only short lists cross. A foreign leaf (a
-- shard) answers its best fingers, grouped remotely (postgres_fdw ships
-- grouped queries whole, quick scores, order and limit included). A local
-- leaf answers its best templates, with no grouping of every row: a finger's
-- best template comes first among its own, so the first fingers fingers met
-- in the templates' order (quick DESC, subject, finger, slot) are the best
-- fingers, and a leaf's first fingers * zp_max_keep() templates hold them
-- when no finger keeps more templates; a leaf where they do not is ranked
-- again finger by finger. The short-listed fingers' templates follow in a
-- last query. (The leaves' answers are gathered unordered: merged in order,
-- the planner would read the leaves one after another, where an Append of
-- foreign scans lets the shards work at the same time.) The function itself
-- is parallel unsafe (it names a damaged row in a subtransaction); the
-- queries it runs use the server's parallel workers.
CREATE FUNCTION zp_short_list(probe zptemplate, probe_finger integer, fingers integer,
                              skip_damaged boolean DEFAULT false)
  RETURNS TABLE (subject text, finger integer, quick integer, slot integer, window_index integer, template bytea,
                 impression text)
  LANGUAGE plpgsql STABLE STRICT PARALLEL UNSAFE AS $$
DECLARE
  gallery regclass := @extschema@.zp_gallery();
  per_leaf integer := least(fingers::bigint * @extschema@.zp_max_keep(), 2147483647);
  -- A leaf's best fingers, and its best templates.
  best_fingers constant text := $leaf$
      SELECT t.subject, t.finger, max(@extschema@.zp_quick_score($1, t.template)) AS quick
      FROM ONLY %s t
      WHERE ($2 = 0 OR t.finger IN (0, $2))
        AND @extschema@.zp_row_sound(t.subject, t.finger, t.slot, t.template, t.checksum, $4)
      GROUP BY t.subject, t.finger
      ORDER BY quick DESC, t.subject, t.finger
      LIMIT $3$leaf$;
  best_templates constant text := $leaf$
      SELECT t.subject, t.finger, @extschema@.zp_quick_score($1, t.template) AS quick
      FROM ONLY %s t
      WHERE ($2 = 0 OR t.finger IN (0, $2))
        AND @extschema@.zp_row_sound(t.subject, t.finger, t.slot, t.template, t.checksum, $4)
      ORDER BY quick DESC, t.subject, t.finger, t.slot
      LIMIT $5$leaf$;
  gathered constant text :=
    'SELECT array_agg(u.subject), array_agg(u.finger::integer), array_agg(u.quick) FROM ((%s)) AS u';
  leaf regclass;
  shards text;
  leaf_subjects text[];
  leaf_fingers integer[];
  leaf_quick integer[];
  scored_subjects text[] := '{}';
  scored_fingers integer[] := '{}';
  scored_quick integer[] := '{}';
  listed_subjects text[];
  listed_fingers integer[];
  listed_quick integer[];
  damaged_subject text;
  damaged_finger integer;
  damaged_slot integer;
  damaged_template bytea;
  damaged_checksum bigint;
BEGIN
  IF probe_finger NOT BETWEEN 0 AND 10 THEN
    RAISE EXCEPTION 'zp_short_list: finger position % is not 0 (unknown) to 10', probe_finger;
  END IF;
  IF fingers < 1 THEN
    RAISE EXCEPTION 'zp_short_list: the short list needs at least one finger';
  END IF;
  BEGIN
    -- The shards, all at once.
    SELECT string_agg(format(best_fingers, part.oid::regclass), ') UNION ALL (') INTO shards
      FROM pg_partition_tree(gallery) AS tree JOIN pg_class AS part ON part.oid = tree.relid
      WHERE tree.isleaf AND part.relkind = 'f';
    IF shards IS NOT NULL THEN
      EXECUTE format(gathered, shards) INTO leaf_subjects, leaf_fingers, leaf_quick
        USING probe, probe_finger, fingers, skip_damaged;
      scored_subjects := scored_subjects || leaf_subjects;
      scored_fingers := scored_fingers || leaf_fingers;
      scored_quick := scored_quick || leaf_quick;
    END IF;
    -- The local leaves, each on the server's parallel workers.
    FOR leaf IN SELECT gallery WHERE NOT EXISTS (SELECT FROM pg_partition_tree(gallery))
                UNION ALL
                SELECT tree.relid FROM pg_partition_tree(gallery) AS tree JOIN pg_class AS part ON part.oid = tree.relid
                WHERE tree.isleaf AND part.relkind <> 'f' LOOP
      EXECUTE format(gathered, format(best_templates, leaf)) INTO leaf_subjects, leaf_fingers, leaf_quick
        USING probe, probe_finger, fingers, skip_damaged, per_leaf;
      IF cardinality(leaf_subjects) = per_leaf
         AND (SELECT count(DISTINCT (s.subject, s.finger)) FROM unnest(leaf_subjects, leaf_fingers) AS s(subject, finger))
             < zp_short_list.fingers THEN
        -- Fingers keeping more templates than zp_max_keep(): rank finger by finger.
        EXECUTE format(gathered, format(best_fingers, leaf)) INTO leaf_subjects, leaf_fingers, leaf_quick
          USING probe, probe_finger, fingers, skip_damaged;
      END IF;
      scored_subjects := scored_subjects || leaf_subjects;
      scored_fingers := scored_fingers || leaf_fingers;
      scored_quick := scored_quick || leaf_quick;
    END LOOP;
  EXCEPTION WHEN data_corrupted THEN
    -- The scan stops at the first damaged row it meets (any, on parallel
    -- workers or shards): name the first in gallery order instead.
    EXECUTE format($first$
        SELECT t.subject, t.finger, t.slot, t.template, t.checksum FROM %s t
        WHERE ($1 = 0 OR t.finger IN (0, $1))
          AND NOT @extschema@.zp_row_sound(t.subject, t.finger, t.slot, t.template, t.checksum, true)
        ORDER BY t.subject, t.finger, t.slot LIMIT 1$first$, gallery)
      INTO damaged_subject, damaged_finger, damaged_slot, damaged_template, damaged_checksum USING probe_finger;
    IF damaged_subject IS NOT NULL THEN
      PERFORM @extschema@.zp_row_sound(damaged_subject, damaged_finger, damaged_slot, damaged_template,
                                       damaged_checksum, false);
    END IF;
    RAISE;
  END;
  SELECT array_agg(b.subject ORDER BY b.quick DESC, b.subject COLLATE "C", b.finger),
         array_agg(b.finger ORDER BY b.quick DESC, b.subject COLLATE "C", b.finger),
         array_agg(b.quick ORDER BY b.quick DESC, b.subject COLLATE "C", b.finger)
    INTO listed_subjects, listed_fingers, listed_quick
    FROM (SELECT s.subject, s.finger, max(s.quick) AS quick
          FROM unnest(scored_subjects, scored_fingers, scored_quick) AS s(subject, finger, quick)
          GROUP BY s.subject, s.finger
          ORDER BY max(s.quick) DESC, s.subject COLLATE "C", s.finger
          LIMIT zp_short_list.fingers) AS b;
  IF listed_subjects IS NULL THEN
    RETURN;
  END IF;
  RETURN QUERY EXECUTE format($rows$
      SELECT t.subject::text, t.finger::integer, b.quick, t.slot::integer, t.window_index::integer,
             t.template::bytea, t.impression
      FROM unnest($1, $2, $3) WITH ORDINALITY AS b(subject, finger, quick, place)
      JOIN %s t ON t.subject = b.subject AND t.finger = b.finger
      WHERE t.subject = ANY ($1)
        AND @extschema@.zp_row_sound(t.subject, t.finger, t.slot, t.template, t.checksum, true)
      ORDER BY b.place, t.slot$rows$, gallery)
    USING listed_subjects, listed_fingers, listed_quick;
END $$;

-- What the tool's identify answers for one probe: the short list re-scored
-- with the full match, subjects ranked by their best scores.
CREATE FUNCTION zp_identify(probe zptemplate, top integer DEFAULT 5, short_list integer DEFAULT 0,
                            level integer DEFAULT 3, probe_finger integer DEFAULT 0,
                            skip_damaged boolean DEFAULT false)
  RETURNS TABLE (rank integer, subject text, finger integer, slot integer, quick integer, score integer,
                 match boolean)
  LANGUAGE sql STABLE STRICT PARALLEL UNSAFE AS $$
  SELECT r.*
  FROM (SELECT array_agg(s.subject ORDER BY s.place) AS subjects, array_agg(s.finger ORDER BY s.place) AS fingers,
               array_agg(s.quick ORDER BY s.place) AS quick, array_agg(s.template ORDER BY s.place) AS templates
        FROM @extschema@.zp_short_list(probe, probe_finger, @extschema@.zp_short_list_length(top, short_list),
                                       skip_damaged) WITH ORDINALITY AS s(subject, finger, quick, slot,
                                                                           window_index, template, impression,
                                                                           place)) AS l,
       @extschema@.zp_rank_short_list(probe, top, short_list, level, l.subjects, l.fingers, l.quick,
                                      l.templates) AS r
$$;

-- What the tool's verify answers: the best of the subject's templates (of
-- one finger, or of all when probe_finger is NULL) decides.
CREATE FUNCTION zp_verify(subject_id text, probe zptemplate, probe_finger integer DEFAULT NULL,
                          level integer DEFAULT 3, skip_damaged boolean DEFAULT false)
  RETURNS TABLE (subject text, finger integer, slot integer, score integer, match boolean, compared integer)
  LANGUAGE plpgsql STABLE PARALLEL RESTRICTED AS $$
DECLARE
  gallery regclass := @extschema@.zp_gallery();
  enrolled_fingers integer[];
  enrolled_slots integer[];
  enrolled_templates bytea[];
BEGIN
  IF subject_id IS NULL OR probe IS NULL OR level IS NULL OR skip_damaged IS NULL THEN
    RETURN;
  END IF;
  EXECUTE format($rows$
      SELECT array_agg(t.finger::integer ORDER BY t.finger, t.slot), array_agg(t.slot::integer ORDER BY t.finger, t.slot),
             array_agg(t.template::bytea ORDER BY t.finger, t.slot)
      FROM %s t
      WHERE t.subject = $1 AND ($2::integer IS NULL OR t.finger = $2)
        AND @extschema@.zp_row_sound(t.subject, t.finger, t.slot, t.template, t.checksum, $3)$rows$, gallery)
    INTO enrolled_fingers, enrolled_slots, enrolled_templates
    USING subject_id, probe_finger, skip_damaged;
  IF enrolled_fingers IS NULL THEN
    IF probe_finger IS NULL THEN
      RAISE EXCEPTION 'no subject ''%''', subject_id USING ERRCODE = 'no_data_found';
    END IF;
    RAISE EXCEPTION '''%'' has no % finger enrolled', subject_id, @extschema@.zp_finger_name(probe_finger)
      USING ERRCODE = 'no_data_found';
  END IF;
  RETURN QUERY
    SELECT subject_id, v.finger, v.slot, v.score, v.match, v.compared
    FROM @extschema@.zp_verify_rows(probe, level, enrolled_fingers, enrolled_slots, enrolled_templates) AS v;
END $$;
